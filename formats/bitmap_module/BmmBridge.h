#pragma once
// The bridge between the bitmap module and the image classes: drives the
// module's header, palette and data steps for a format class and decodes
// straight into the image's pixel storage, or writes an image through the
// module's writer.

#include "imaging/DibGraphic.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

#include <string>

// The bridge's exception. A failed step raises the step's fixed text
// ("bmm_read_header failed.", "bmm_read_data failed.", ...); the module's
// result codes and their texts are not passed on. Where the module refuses a
// file of its own choice (a top-down BMP, a run leaving the picture, a PCX
// line too short for its row), the message is the module's reason instead,
// naming the format and the field.
class EBmmError : public Exception {
public:
  using Exception::Exception;
};

// Decodes Stream into Image. The format is guessed from FileName's extension
// ("File.bmp", "File.pcx", "File.tga"); Options go to the module's reader.
// Offset 0 of Stream must be the file's first byte: the readers seek to
// absolute offsets.
void ReadBmmImage(TStream& Stream, TDibGraphic& Image, const std::string& FileName,
                  const std::string& Options);

// Encodes Image into Stream with the module's writer for FileName's extension.
void WriteBmmImage(TStream& Stream, const TDibGraphic& Image, const std::string& FileName);

// Copies the rest of Stream, from its position to its end, into Temp when the
// position is not 0; answers the stream to decode (Stream itself or Temp),
// positioned at 0.
TStream& BmmRewoundStream(TStream& Stream, TMemoryStream& Temp);
