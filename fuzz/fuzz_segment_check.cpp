// A segment's body as a server might send it, judged as a segment and as an initialisation
// segment, and as the piece after each kind of file: whatever it holds, the judgement ends and
// a body refused as a segment's start never passes as one.
#include "SegmentCheck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "broken rule: %s\n", what);
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const SegmentCheck::Kind kind = SegmentCheck::KindOf(body);
    const QString asSegment = SegmentCheck::Problem(body, false);
    const QString asInit = SegmentCheck::Problem(body, true);
    Require(kind != SegmentCheck::Kind::Unknown || !asSegment.isEmpty(),
            "bytes of no known container are refused");
    Require(asSegment.isEmpty() || !asInit.isEmpty(),
            "what is damaged as a segment is damaged as an initialisation segment");
    for (const SegmentCheck::Kind written :
         {SegmentCheck::Kind::Unknown, SegmentCheck::Kind::MpegTs, SegmentCheck::Kind::Mp4,
          SegmentCheck::Kind::WebM, SegmentCheck::Kind::PackedAudio, SegmentCheck::Kind::Other}) {
        const QString after = SegmentCheck::SequenceProblem(written, body);
        Require(written == SegmentCheck::Kind::Unknown || written == kind || !after.isEmpty(),
                "one file holds one container");
    }
    SegmentCheck::TypeProblem(body.left(200));
    return 0;
}
