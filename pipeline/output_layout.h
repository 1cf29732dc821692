// What an output image keeps of the input file besides the render's pixels: its sample type,
// where its pixels sit (data and display windows), and its metadata. Decided once per render.
#pragma once

#include <OpenImageIO/paramlist.h>

#include <optional>
#include <string>
#include <vector>

#include "media/image_io.h"
#include "media/source.h"
#include "pipeline/plan.h"

namespace vpipe {

// What a source's file says about itself. For a still its file, for a sequence its first frame;
// a movie has only its type.
struct FootageFacts {
  SampleType type = SampleType::kUInt8;
  int precision = 8;  // significant bits of its samples: 8, 10 (deep video), 11 (half), 16, 24
  Window data;        // where its pixels sit on the image plane
  std::optional<Window> display;
  std::vector<std::string> other_channels;  // neither colour nor alpha: not displaced
  OIIO::ParamValueList attributes;          // the metadata worth carrying to the output
};

// A source's facts, from the header it read when it opened (a movie has only its type).
FootageFacts ReadFootageFacts(const vmedia::Source& source);

// The layout of every output image: the given --out-type or the input's own type where the
// format holds it, the input's windows (scaled by the downsample), its metadata with our own
// Software and `settings_text`, the compression and quality asked for.
ImageLayout PlanImageLayout(const RenderSettings& settings, const FootageFacts& input,
                            const std::string& settings_text);

// One line describing the render for the output's metadata: the footage, the frames and rate,
// the depth and every control given.
std::string DescribeRender(const RenderSettings& settings, int bpc);

// What a file of `precision` bits loses of a render at `bpc` from input footage of
// `input_precision` bits: the warning, or nullopt when it keeps what the footage held. `holds`
// says what the file holds ("16 bits per channel", "half floats").
std::optional<std::string> PrecisionWarning(const std::string& output, const std::string& holds,
                                            int precision, int bpc, int input_precision);

// What an 8-bit render of deeper input footage loses, said before the render: a still's clipped
// pixels are counted. Nullopt when the render is as deep as the footage.
std::optional<std::string> ShallowRenderWarning(const RenderSettings& settings,
                                                const vmedia::Source& input,
                                                const FootageFacts& facts, int bpc);

}  // namespace vpipe
