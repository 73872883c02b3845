#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// An application message, or one segment of one. Wire format of one segment (little-endian):
//   byte 0     bit 7: last segment; bits 0-6: message id
//   bytes 1-2  segment index (0 for the first segment of a message)
//   bytes 3-4  payload length n
//   bytes 5..  n payload bytes
class YMsg {
 public:
  static constexpr int kHeaderSize = 5;
  static constexpr size_t kMaxPayload = 65535;

  // A new segment from one received unit, or null unless the unit holds exactly 5 + n bytes.
  static YMsg* parseMsg(const void* data, unsigned short length);
  // A whole message with the given 7-bit id, as one last segment with index 0 (bench and tests).
  static YMsg* create(int id, const void* payload, size_t length);

  ~YMsg();
  YMsg(const YMsg&) = delete;
  YMsg& operator=(const YMsg&) = delete;

  // Cuts the payload into segments whose serialised form is at most maxBytes bytes. A maxBytes
  // below 6 is refused (false) and leaves no segments.
  bool segmentMessage(int maxBytes);
  void resetSegment();
  // The next segment (owned by this message), or null when all have been handed out (or before
  // any segmentMessage). Changing the message (addSegment) discards an earlier cut. The segments
  // are made one at a time in one object that the message keeps and reuses: a segment is valid
  // until the next call, and cutting a message allocates nothing per segment.
  YMsg* getNextSegment();
  // Serialises this segment into buffer; returns the bytes written, or 0 when it does not fit.
  int getMsg(void* buffer, unsigned short size) const;
  // Segment k of the current cut without copying it: its serialised header, and where its
  // payload lies inside this message's payload (valid until the message changes). Header then
  // payload are the bytes getMsg writes for that segment. False when the cut has no segment k.
  struct cSegmentView {
    uint8_t header[kHeaderSize];
    const uint8_t* payload;
    size_t length;
  };
  bool viewSegment(size_t k, cSegmentView* view) const;
  // Segments in the current cut (0 before any segmentMessage).
  size_t segmentCount() const { return mSegmentCount; }
  int isLastSegment() const { return mLast ? 1 : 0; }
  // Appends a further segment's payload; false (message unchanged) when the payload would grow
  // past kMaxPayload bytes. The segment stays the caller's.
  bool addSegment(const YMsg* segment);
  // Appends a further segment straight from its serialised bytes (a unit that parseMsg accepts)
  // without making a segment object; false (message unchanged) for an invalid unit or when the
  // payload would grow past kMaxPayload bytes.
  bool addSegmentUnit(const void* data, unsigned short length);

  // The header of a serialised segment; false unless the unit holds exactly 5 + n bytes.
  struct cHeader {
    int id;
    int index;
    bool last;
    size_t payloadLength;
  };
  static bool parseHeader(const void* data, unsigned short length, cHeader* header);

  int getMsgId() const { return mId; }
  int getSegIndex() const { return mIndex; }
  const std::vector<uint8_t>& payload() const { return mPayload; }

 private:
  YMsg(int id, int index, bool last);
  void clearSegments();
  // Offset and length of segment k's payload, and whether it is the last one.
  void segmentBounds(size_t k, size_t* offset, size_t* length, bool* last) const;
  bool append(const uint8_t* data, size_t n, bool last);

  uint8_t mId;
  uint16_t mIndex;
  bool mLast;
  std::vector<uint8_t> mPayload;
  std::unique_ptr<YMsg> mCursor;  // the segment handed out last, reused for the next
  size_t mChunk;                  // payload bytes per segment; 0: not cut
  size_t mSegmentCount;
  size_t mNextSegment;
};
