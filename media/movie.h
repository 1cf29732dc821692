// Movie files as footage, through FFmpeg's libraries: reading them as a Source, writing renders
// into them (movie_writer.h).
#pragma once

#include <memory>
#include <string>

#include "media/source.h"

namespace vmedia {

// Opens a movie file's first video stream as a source of kind kMovie, frames numbered from 0.
// Throws FootageError, in one line naming the file, for a file FFmpeg cannot open or that is a
// still image or text rather than a movie, one without a video stream, one whose decoder is not
// built in, and a truncated file whose end is missing (found here by reading its last packets).
std::unique_ptr<Source> OpenMovie(const std::string& path, const OpenOptions& options = {});

// FFmpeg's libraries print what they notice (damaged packets, encoder banners) on standard error
// from any thread. Footage reports its failures itself, so a program keeps them quiet unless
// someone debugging asks for them.
void SetMovieLibraryLogging(bool verbose);

}  // namespace vmedia
