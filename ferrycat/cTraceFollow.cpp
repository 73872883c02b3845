#include "ferrycat/cTraceFollow.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "modem/cSerialTrace.h"

cTraceFollow::~cTraceFollow() {
  if (mFd >= 0) close(mFd);
}

// Appends what the open file holds past what was read; false at its end.
bool cTraceFollow::readMore() {
  char buffer[65536];
  bool any = false;
  ssize_t n;
  while ((n = read(mFd, buffer, sizeof buffer)) > 0) {
    mText.append(buffer, static_cast<size_t>(n));
    any = true;
  }
  return any;
}

// The path now names another file (renamed away and begun anew), none, or a shorter one.
bool cTraceFollow::replaced() const {
  struct stat st;
  if (stat(mPath.c_str(), &st) != 0) return true;
  return st.st_dev != mDev || st.st_ino != mIno || static_cast<size_t>(st.st_size) < mText.size();
}

bool cTraceFollow::next(std::vector<cCapture::cRecord>* records, bool* newFile,
                        std::string* error) {
  *newFile = false;
  if (mFd < 0) {
    mFd = open(mPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (mFd < 0) return true;  // not there yet, or between a rename and the new file
    struct stat st;
    fstat(mFd, &st);
    mDev = st.st_dev;
    mIno = st.st_ino;
    mText.clear();
    mAt = 0;
    *newFile = true;
  }
  bool grew = readMore();
  if (!grew && replaced()) {
    readMore();  // what was written before the rename
    if (mAt == 0 && mText.size() >= cSerialTrace::kHeaderSize &&
        !cCapture::traceHeader(mText, &mAt, error))
      return false;
    std::string why;
    if (mAt != 0) cCapture::takeRecords(mText, &mAt, records, &why);
    close(mFd);
    mFd = -1;
  } else if (mAt == 0 && mText.size() >= cSerialTrace::kHeaderSize) {
    if (!cCapture::traceHeader(mText, &mAt, error)) return false;
  }
  if (mFd >= 0 && mAt != 0) {
    std::string why;
    if (cCapture::takeRecords(mText, &mAt, records, &why) == cCapture::kGarbled) {
      *error = why;
      return false;
    }
  }
  cCapture::inTimeOrder(records);
  return true;
}
