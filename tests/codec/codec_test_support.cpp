#include "tests/codec/codec_test_support.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "platform/codec_service.h"

namespace unpak {

void CodecModuleTest::SetUp() {
  static void* const module = dlopen(UNPAK_CODEC_MODULE, RTLD_NOW | RTLD_LOCAL);
  static const bool registered =
      module && CodecDriverAdd(reinterpret_cast<CodecDriverEntry>(dlsym(module, "DriverProc")));
  ASSERT_TRUE(registered) << "cannot load " << UNPAK_CODEC_MODULE;
}

StreamRun RunStream(const FormatBlock& source, const FormatBlock& target,
                    const std::vector<uint8_t>& in, uint32_t pass, uint32_t destination,
                    uint32_t flags, bool end) {
  StreamRun run;
  CodecStreamPtr stream = CodecStreamOpen(source, target, &run.error);
  run.pass = pass;
  if (stream && pass == 0) CodecStreamSize(*stream, destination, &run.pass, kStreamSizeDestination);
  if (!stream || run.pass == 0) return run;
  std::vector<uint8_t> src(run.pass), dst(destination);
  CodecStreamHeader header{sizeof header, 0, src.data(), run.pass, 0, dst.data(), destination, 0};
  EXPECT_TRUE(CodecStreamPrepareHeader(*stream, header));
  uint32_t carried = 0;
  // One call on the `carried` bytes at the front of `src`; false when it fails.
  auto call = [&](uint32_t callFlags) {
    header.cbSrcLength = carried;
    if (!CodecStreamConvert(*stream, header, callFlags)) run.error = CodecStreamError(*stream);
    run.out.insert(run.out.end(), dst.begin(), dst.begin() + header.cbDstLengthUsed);
    run.calls.push_back(header.cbDstLengthUsed);
    carried -= header.cbSrcLengthUsed;
    std::memmove(src.data(), src.data() + header.cbSrcLengthUsed, carried);
    return run.error.empty();
  };
  bool ok = true;
  for (size_t next = 0, count = 0; ok && next < in.size(); next += count) {
    count = std::min<size_t>(run.pass - carried, in.size() - next);
    std::memcpy(src.data() + carried, in.data() + next, count);
    carried += static_cast<uint32_t>(count);
    ok = call(flags);
  }
  for (size_t before = SIZE_MAX; ok && end && (run.out.size() != before || carried > 0);) {
    before = run.out.size();
    ok = call(kConvertEnd);
  }
  CodecStreamUnprepareHeader(*stream, header);
  return run;
}

}  // namespace unpak
