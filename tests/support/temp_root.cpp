#include "tests/support/temp_root.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/file_root.h"

TempFileRoot::TempFileRoot() {
    char pattern[] = "/tmp/webservices-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    m_dir = pattern;
    std::filesystem::create_directories(m_dir + "/tmp");
    setFileRoot(m_dir);
}

TempFileRoot::~TempFileRoot() {
    setFileRoot("");
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

void TempFileRoot::write(const std::string& builtInPath, const std::string& content) const {
    std::filesystem::path p(path(builtInPath));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << content;
}

std::string TempFileRoot::read(const std::string& builtInPath) const {
    std::ifstream in(path(builtInPath), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TempFileRoot::exists(const std::string& builtInPath) const { return std::filesystem::exists(path(builtInPath)); }

std::string readTestData(const std::string& relativePath) {
    std::ifstream in(std::string(WEBSERVICES_TEST_DATA) + "/" + relativePath, std::ios::binary);
    if (!in) throw std::runtime_error("missing test data: " + relativePath);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
