// Helpers for tests that work on real files.
#pragma once

#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with
// everything below it when the object goes away (also after a failed
// assertion); permissions are restored first so that nothing is left behind.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return Path; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const;

 private:
  std::string Path;
};

// Sets an environment variable (nullptr unsets it) for the life of the
// object, then puts it back as it was: set to its old value, or unset.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string Name;
  std::string Old;
  bool HadOld = false;
};

// Whole-file helpers; WriteFile creates missing parent directories.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);  // lstat succeeds
void MakeDirs(const std::string& path);
// Every name in a directory, "." and ".." excepted, sorted.
std::vector<std::string> ListDir(const std::string& path);
// Replaces every "\n" with "\r\n": what text-mode output makes of a text.
std::string Crlf(const std::string& text);
