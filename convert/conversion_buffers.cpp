#include "convert/conversion_buffers.h"

namespace unpak {

void PrepareConversion(CodecStream& stream, uint32_t sourceSize, uint32_t destinationSize,
                       ConversionBuffers* buffers) {
  buffers->source.resize(sourceSize);
  buffers->destination.resize(destinationSize);
  CodecStreamHeader& header = buffers->header;
  header = CodecStreamHeader{};
  header.cbStruct = sizeof header;
  header.pbSrc = buffers->source.data();
  header.cbSrcLength = sourceSize;
  header.pbDst = buffers->destination.data();
  header.cbDstLength = destinationSize;
  CodecStreamPrepareHeader(stream, header);
}

}  // namespace unpak
