#include "testing/test_support.h"

#include <dirent.h>
#include <errno.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

bool SawUnreadableDirectory = false;

// Gives every directory of the tree u+rwx so that it can be listed and
// emptied; notes directories that could not be listed before the change.
int OpenUpDirectory(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DNR) {
    if ((st->st_mode & S_IRWXU) != S_IRWXU) chmod(path, (st->st_mode & 07777) | S_IRWXU);
    if (type == FTW_DNR) SawUnreadableDirectory = true;
  }
  return 0;
}

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_DP || type == FTW_D || type == FTW_DNR)
    rmdir(path);
  else
    unlink(path);
  return 0;
}

}  // namespace

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      (base && *base ? std::string(base) : std::string("/tmp")) + "/dupehunt-test-XXXXXX";
  if (!mkdtemp(&pattern[0]))
    throw std::runtime_error("TempDir: mkdtemp(" + pattern + "): " + strerror(errno));
  char resolved[PATH_MAX];
  Path = realpath(pattern.c_str(), resolved) ? std::string(resolved) : pattern;
}

TempDir::~TempDir() {
  // A pass opens up the directories it can reach; a directory that could
  // not be listed is opened up in this pass and walked in the next one.
  for (int pass = 0; pass < 256; ++pass) {
    SawUnreadableDirectory = false;
    nftw(Path.c_str(), OpenUpDirectory, 16, FTW_PHYS);
    if (!SawUnreadableDirectory) break;
  }
  nftw(Path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::operator/(const std::string& relative) const { return Path + "/" + relative; }

ScopedEnv::ScopedEnv(const char* name, const char* value) : Name(name) {
  const char* old = getenv(name);
  HadOld = old != nullptr;
  if (HadOld) Old = old;
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (HadOld)
    setenv(Name.c_str(), Old.c_str(), 1);
  else
    unsetenv(Name.c_str());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "ReadFile: cannot open " << path;
    return std::string();
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::string::size_type slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeDirs(path.substr(0, slash));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "WriteFile: cannot write " << path;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) {
  std::string::size_type pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string prefix = path.substr(0, pos);
    if (prefix.empty()) continue;
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      ADD_FAILURE() << "MakeDirs: mkdir " << prefix << ": " << strerror(errno);
      return;
    }
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    ADD_FAILURE() << "MakeDirs: " << path << " is not a directory";
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (!dir) {
    ADD_FAILURE() << "ListDir: cannot open " << path << ": " << strerror(errno);
    return names;
  }
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Crlf(const std::string& text) {
  std::string result;
  result.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}
