#include "db/database_use_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace qfx::server {

namespace {

constexpr size_t kMostCommandLineShown = 160;

Result<int> openLockFile(const std::string& databasePath) {
  const std::string path = DatabaseUseLock::lockFileOf(databasePath);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return internalError("não foi possível abrir " + path + ": " + std::strerror(errno));
  return fd;
}

// The command line of a process, blanks between its words, cut short.
std::string commandLineOf(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (char& c : text)
    if (c == '\0') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.size() > kMostCommandLineShown) text = text.substr(0, kMostCommandLineShown) + "…";
  return text;
}

// The processes holding a lock on the file open as `fd`, from the kernel's list
// of locks ("1: FLOCK ADVISORY READ 1234 08:01:5678 0 EOF").
std::vector<std::string> holdersOf(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return {};
  char device[64];
  std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  std::ifstream locks("/proc/locks");
  std::vector<std::string> holders;
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, advisory, mode, pid, where;
    fields >> number >> kind;
    if (kind == "->") fields >> kind;  // a waiter's line
    fields >> advisory >> mode >> pid >> where;
    if (kind != "FLOCK" || where != device || pid == std::to_string(::getpid())) continue;
    const std::string command = commandLineOf(pid);
    holders.push_back("pid " + pid + (command.empty() ? "" : ": " + command));
  }
  return holders;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

}  // namespace

Result<DatabaseUseLock> DatabaseUseLock::forServer(const std::string& databasePath) {
  auto fd = openLockFile(databasePath);
  if (!fd) return fd.error();
  DatabaseUseLock lock(*fd);
  if (::flock(*fd, LOCK_SH | LOCK_NB) != 0)
    return Error{ErrorKind::Unavailable, "o banco " + databasePath + " está sendo restaurado agora (" +
                                             joined(holdersOf(*fd)) + "): espere a restauração terminar"};
  return lock;
}

Result<DatabaseUseLock> DatabaseUseLock::forRestore(const std::string& databasePath) {
  auto fd = openLockFile(databasePath);
  if (!fd) return fd.error();
  DatabaseUseLock lock(*fd);
  if (::flock(*fd, LOCK_EX | LOCK_NB) != 0) {
    const auto holders = holdersOf(*fd);
    const bool several = holders.size() > 1;
    const std::string who = holders.empty() ? "" : " (" + joined(holders) + ")";
    return Error{ErrorKind::Conflict, "o banco " + databasePath + " está aberto por " +
                                          (several ? "servidores" : "um servidor") + " em execução" + who + ": pare-" +
                                          (several ? "os" : "o") + " antes de restaurar; nada foi alterado"};
  }
  return lock;
}

DatabaseUseLock::DatabaseUseLock(DatabaseUseLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

DatabaseUseLock::~DatabaseUseLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the file drops the lock
}

}  // namespace qfx::server
