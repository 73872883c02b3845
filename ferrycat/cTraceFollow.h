#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "ferrycat/cCapture.h"

// "ferrycat decode --follow": reads a daemon's trace as it grows, in the manner of tail -F. The
// file need not exist yet; when the daemon renames it to <file>.1 (its size bound, or a restart)
// the rest of the old file is read and the new one followed from its start. The text read is kept
// until the file changes, so memory is bounded by the trace's own bound (ferryd.io.tracesize).
class cTraceFollow {
 public:
  explicit cTraceFollow(const std::string& path) : mPath(path) {}
  ~cTraceFollow();
  cTraceFollow(const cTraceFollow&) = delete;
  cTraceFollow& operator=(const cTraceFollow&) = delete;

  // Adds the records written since the last call, in time order (none: nothing new yet). False
  // with the reason in *error when the file holds something that is not a trace. *newFile is
  // set when a new file was opened (the first one, or after a rotation or restart).
  bool next(std::vector<cCapture::cRecord>* records, bool* newFile, std::string* error);

 private:
  bool readMore();
  bool replaced() const;

  std::string mPath;
  int mFd = -1;
  dev_t mDev = 0;
  ino_t mIno = 0;
  std::string mText;  // the open file's bytes so far
  size_t mAt = 0;     // where its next record begins (0 before the header)
};
