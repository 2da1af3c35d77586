// A fresh temporary file root for one test: every built-in path of the
// module ("/vorn/...", "/tmp/...") lands inside it. Removed afterwards.
#pragma once

#include <string>

class TempFileRoot {
public:
    TempFileRoot();
    ~TempFileRoot();
    TempFileRoot(const TempFileRoot&) = delete;
    TempFileRoot& operator=(const TempFileRoot&) = delete;

    const std::string& dir() const { return m_dir; }
    // The real path of a built-in path such as "/vorn/vehicle_id".
    std::string path(const std::string& builtInPath) const { return m_dir + builtInPath; }
    // Writes a file at a built-in path, creating its folders.
    void write(const std::string& builtInPath, const std::string& content) const;
    std::string read(const std::string& builtInPath) const;
    bool exists(const std::string& builtInPath) const;

private:
    std::string m_dir;
};

// Reads a fixture under tests/data.
std::string readTestData(const std::string& relativePath);
