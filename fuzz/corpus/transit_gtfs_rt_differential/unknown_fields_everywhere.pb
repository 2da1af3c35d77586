

2.0˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]
e˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]"š

T1B
V1˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]K˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]Î
E
T1˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]„˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]A˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]*Ì˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]
A˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]RF
D
h˜‘xxxxxxxxŠopaqueƒin„ýÀ>Â²	extensionã]ä]