#pragma once

#include <limits.h>
#include <unistd.h>
#include <cstdlib>

#include <QByteArray>

// Makes the process work in `folder` (the system's bytes) while it lives, then goes back.
class WorkingFolder {
 public:
  explicit WorkingFolder(const QByteArray& folder) {
    char saved[PATH_MAX];
    if (::getcwd(saved, sizeof saved) != nullptr)
      saved_ = saved;
    entered_ = !saved_.isEmpty() && ::chdir(folder.constData()) == 0;
  }
  ~WorkingFolder() {
    if (entered_ && ::chdir(saved_.constData()) != 0)
      std::abort();  // every later test would run elsewhere
  }
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

  bool Entered() const { return entered_; }

 private:
  QByteArray saved_;
  bool entered_ = false;
};
