#include "util/text_clean.h"

#include <regex.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <sstream>

#include "platform/debug.h"

namespace {
// The named character references of HTML 4.01 (without "ang").
struct NamedReference {
    const char* name;
    uint32_t codePoint;
};
const NamedReference kNamedReferences[] = {
    {"AElig", 198}, {"Aacute", 193}, {"Acirc", 194}, {"Agrave", 192}, {"Alpha", 913}, {"Aring", 197},
    {"Atilde", 195}, {"Auml", 196}, {"Beta", 914}, {"Ccedil", 199}, {"Chi", 935}, {"Dagger", 8225},
    {"Delta", 916}, {"ETH", 208}, {"Eacute", 201}, {"Ecirc", 202}, {"Egrave", 200}, {"Epsilon", 917},
    {"Eta", 919}, {"Euml", 203}, {"Gamma", 915}, {"Iacute", 205}, {"Icirc", 206}, {"Igrave", 204},
    {"Iota", 921}, {"Iuml", 207}, {"Kappa", 922}, {"Lambda", 923}, {"Mu", 924}, {"Ntilde", 209},
    {"Nu", 925}, {"OElig", 338}, {"Oacute", 211}, {"Ocirc", 212}, {"Ograve", 210}, {"Omega", 937},
    {"Omicron", 927}, {"Oslash", 216}, {"Otilde", 213}, {"Ouml", 214}, {"Phi", 934}, {"Pi", 928},
    {"Prime", 8243}, {"Psi", 936}, {"Rho", 929}, {"Scaron", 352}, {"Sigma", 931}, {"THORN", 222},
    {"Tau", 932}, {"Theta", 920}, {"Uacute", 218}, {"Ucirc", 219}, {"Ugrave", 217}, {"Upsilon", 933},
    {"Uuml", 220}, {"Xi", 926}, {"Yacute", 221}, {"Yuml", 376}, {"Zeta", 918}, {"aacute", 225},
    {"acirc", 226}, {"acute", 180}, {"aelig", 230}, {"agrave", 224}, {"alefsym", 8501}, {"alpha", 945},
    {"amp", 38}, {"and", 8743}, {"aring", 229}, {"asymp", 8776}, {"atilde", 227}, {"auml", 228},
    {"bdquo", 8222}, {"beta", 946}, {"brvbar", 166}, {"bull", 8226}, {"cap", 8745}, {"ccedil", 231},
    {"cedil", 184}, {"cent", 162}, {"chi", 967}, {"circ", 710}, {"clubs", 9827}, {"cong", 8773},
    {"copy", 169}, {"crarr", 8629}, {"cup", 8746}, {"curren", 164}, {"dArr", 8659}, {"dagger", 8224},
    {"darr", 8595}, {"deg", 176}, {"delta", 948}, {"diams", 9830}, {"divide", 247}, {"eacute", 233},
    {"ecirc", 234}, {"egrave", 232}, {"empty", 8709}, {"emsp", 8195}, {"ensp", 8194}, {"epsilon", 949},
    {"equiv", 8801}, {"eta", 951}, {"eth", 240}, {"euml", 235}, {"euro", 8364}, {"exist", 8707},
    {"fnof", 402}, {"forall", 8704}, {"frac12", 189}, {"frac14", 188}, {"frac34", 190}, {"frasl", 8260},
    {"gamma", 947}, {"ge", 8805}, {"gt", 62}, {"hArr", 8660}, {"harr", 8596}, {"hearts", 9829},
    {"hellip", 8230}, {"iacute", 237}, {"icirc", 238}, {"iexcl", 161}, {"igrave", 236}, {"image", 8465},
    {"infin", 8734}, {"int", 8747}, {"iota", 953}, {"iquest", 191}, {"isin", 8712}, {"iuml", 239},
    {"kappa", 954}, {"lArr", 8656}, {"lambda", 955}, {"lang", 9001}, {"laquo", 171}, {"larr", 8592},
    {"lceil", 8968}, {"ldquo", 8220}, {"le", 8804}, {"lfloor", 8970}, {"lowast", 8727}, {"loz", 9674},
    {"lrm", 8206}, {"lsaquo", 8249}, {"lsquo", 8216}, {"lt", 60}, {"macr", 175}, {"mdash", 8212},
    {"micro", 181}, {"middot", 183}, {"minus", 8722}, {"mu", 956}, {"nabla", 8711}, {"nbsp", 160},
    {"ndash", 8211}, {"ne", 8800}, {"ni", 8715}, {"not", 172}, {"notin", 8713}, {"nsub", 8836},
    {"ntilde", 241}, {"nu", 957}, {"oacute", 243}, {"ocirc", 244}, {"oelig", 339}, {"ograve", 242},
    {"oline", 8254}, {"omega", 969}, {"omicron", 959}, {"oplus", 8853}, {"or", 8744}, {"ordf", 170},
    {"ordm", 186}, {"oslash", 248}, {"otilde", 245}, {"otimes", 8855}, {"ouml", 246}, {"para", 182},
    {"part", 8706}, {"permil", 8240}, {"perp", 8869}, {"phi", 966}, {"pi", 960}, {"piv", 982},
    {"plusmn", 177}, {"pound", 163}, {"prime", 8242}, {"prod", 8719}, {"prop", 8733}, {"psi", 968},
    {"quot", 34}, {"rArr", 8658}, {"radic", 8730}, {"rang", 9002}, {"raquo", 187}, {"rarr", 8594},
    {"rceil", 8969}, {"rdquo", 8221}, {"real", 8476}, {"reg", 174}, {"rfloor", 8971}, {"rho", 961},
    {"rlm", 8207}, {"rsaquo", 8250}, {"rsquo", 8217}, {"sbquo", 8218}, {"scaron", 353}, {"sdot", 8901},
    {"sect", 167}, {"shy", 173}, {"sigma", 963}, {"sigmaf", 962}, {"sim", 8764}, {"spades", 9824},
    {"sub", 8834}, {"sube", 8838}, {"sum", 8721}, {"sup", 8835}, {"sup1", 185}, {"sup2", 178},
    {"sup3", 179}, {"supe", 8839}, {"szlig", 223}, {"tau", 964}, {"there4", 8756}, {"theta", 952},
    {"thetasym", 977}, {"thinsp", 8201}, {"thorn", 254}, {"tilde", 732}, {"times", 215}, {"trade", 8482},
    {"uArr", 8657}, {"uacute", 250}, {"uarr", 8593}, {"ucirc", 251}, {"ugrave", 249}, {"uml", 168},
    {"upsih", 978}, {"upsilon", 965}, {"uuml", 252}, {"weierp", 8472}, {"xi", 958}, {"yacute", 253},
    {"yen", 165}, {"yuml", 255}, {"zeta", 950}, {"zwj", 8205}, {"zwnj", 8204},
    {"", 0},
};

const std::map<std::string, uint32_t>& namedReferenceMap() {
    static const std::map<std::string, uint32_t> map = [] {
        std::map<std::string, uint32_t> m;
        for (const NamedReference* r = kNamedReferences; r->name[0] != '\0'; ++r) m.emplace(r->name, r->codePoint);
        return m;
    }();
    return map;
}

const char* const kTagPattern = "<[Aa].*\">|<\\/[Aa]>|<[Pp]>|<\\/[Pp]>";
const char* const kLinkPattern = "(-.)?https?:\\/\\/([a-zA-Z0-9_\\.\\/\\?=\\&-])*";
constexpr uint32_t kReplacementCharacter = 0xFFFD;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// Where to search again after erasing a match at `erasedAt`: a new match can
// only appear where the erasure joined two pieces of text, so looking back by
// the longest pattern prefix is enough; `restartFromStart` covers the join
// that completes a pattern's far end (an anchor's closing "\">").
using ResumeRule = size_t (*)(const std::string& text, size_t erasedAt);

size_t resumeAfterTag(const std::string& text, size_t erasedAt) {
    if (erasedAt > 0 && erasedAt < text.size() && text[erasedAt - 1] == '"' && text[erasedAt] == '>') return 0;
    return erasedAt > 3 ? erasedAt - 3 : 0;
}

size_t resumeAfterLink(const std::string&, size_t erasedAt) { return erasedAt > 9 ? erasedAt - 9 : 0; }

// Erases every match of pattern, leftmost first, logging each; false when
// the pattern does not compile.
bool eraseAllMatches(std::string& text, const char* pattern, ResumeRule resume, const char* removingLog) {
    regex_t regex;
    if (regcomp(&regex, pattern, REG_EXTENDED) != 0) return false;
    size_t from = 0;
    regmatch_t match;
    while (from <= text.size() && regexec(&regex, text.c_str() + from, 1, &match, from > 0 ? REG_NOTBOL : 0) == 0) {
        size_t start = from + static_cast<size_t>(match.rm_so);
        size_t length = static_cast<size_t>(match.rm_eo - match.rm_so);
        if (length == 0) break;
        logLine(2, removingLog, text.substr(start, length));
        text.erase(start, length);
        from = resume(text, start);
    }
    regfree(&regex);
    return true;
}

void writeUtf8(std::ostream& out, uint32_t cp) {
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > kMaxCodePoint) cp = kReplacementCharacter;
    if (cp < 0x80) {
        out.put(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.put(static_cast<char>(0xC0 | (cp >> 6)));
        out.put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.put(static_cast<char>(0xE0 | (cp >> 12)));
        out.put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.put(static_cast<char>(0xF0 | (cp >> 18)));
        out.put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.put(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int digitValue(int c, int base) {
    if (c >= '0' && c <= '9') return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads digits of base starting with c; returns the first non-digit (or EOF).
int readNumber(std::istream& in, int c, int base, uint32_t& value) {
    value = 0;
    for (int d; c != EOF && (d = digitValue(c, base)) >= 0; c = in.get())
        value = value > kMaxCodePoint ? kMaxCodePoint + 1 : value * base + static_cast<uint32_t>(d);
    return c;
}
}  // namespace

void removeHTMLtags(std::string& text) {
    logLine(2, "removeHTMLtags-from: ", text);
    if (!eraseAllMatches(text, kTagPattern, resumeAfterTag, "removeHTMLtags: Removing: ")) {
        logLine(8, "removeHTMLtags: Bad pattern");
        return;
    }
    logLine(2, "removeHTMLtags - to: ", text);
}

void removeURLs(std::string& text) {
    logLine(2, "removeURLs: Removeing URLs from: ", text);
    if (!eraseAllMatches(text, kLinkPattern, resumeAfterLink, "removeURLs: Removing: "))
        logLine(8, "removeURLs: Bad pattern");
}

void decodeHtmlEntities(std::istream& in, std::ostream& out) {
    int c = in.get();
    while (c != EOF) {
        if (c != '&') {
            out.put(static_cast<char>(c));
            c = in.get();
            continue;
        }
        c = in.get();
        if (c == '#') {
            c = in.get();
            uint32_t value = 0;
            if (c == 'x' || c == 'X') {
                c = readNumber(in, in.get(), 16, value);
            } else if (std::isdigit(c)) {
                c = readNumber(in, c, 10, value);
            } else {
                continue;  // "&#" dropped, c processed normally
            }
            if (c == ';') {
                writeUtf8(out, value);
                c = in.get();
            }
            // Without ';' the reference is dropped and c is processed normally.
        } else if (c != EOF && std::isalpha(c)) {
            std::string name;
            for (; c != EOF && std::isalnum(c); c = in.get()) name += static_cast<char>(c);
            if (c == EOF) break;  // a partial reference at the end is dropped
            const auto& names = namedReferenceMap();
            auto it = c == ';' ? names.find(name) : names.end();
            if (it != names.end()) {
                writeUtf8(out, it->second);
                c = in.get();
            } else {
                out.put('&');
                out << name;
            }
        } else if (c != EOF) {
            out.put('&');
        }
    }
}

std::string decodeHtmlEntities(const std::string& text) {
    std::istringstream in(text);
    std::ostringstream out;
    decodeHtmlEntities(in, out);
    return out.str();
}

void replaceLineFeeds(std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) out += c == '\n' ? ' ' : c;
    text = std::move(out);
}

void wordWrap(std::string& text, int width) {
    if (width <= 0) return;
    const size_t limit = static_cast<size_t>(width);
    std::string out;
    out.reserve(text.size());
    size_t in = 0;
    while (in < text.size()) {
        // One output line: its first character is at lineStart; lastSpace is
        // the latest whitespace from the line's second character on.
        const size_t lineStart = out.size();
        size_t lastSpace = std::string::npos;
        size_t column = 1;
        bool broke = false;
        while (in < text.size()) {
            char c = text[in++];
            out += c;
            if (out.size() - 1 > lineStart && std::isspace(static_cast<unsigned char>(c))) lastSpace = out.size() - 1;
            if (c == '\\' && in < text.size() && text[in] == 'n') {
                column = 2;  // an escaped line break: the backslash starts a new line
                continue;
            }
            if (++column > limit && lastSpace != std::string::npos) {
                out.resize(lastSpace);
                out += '\n';
                in = lastSpace + 1;
                broke = true;
                break;
            }
        }
        if (!broke) break;
    }
    text = std::move(out);
}
