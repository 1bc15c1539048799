#pragma once

#include "night/clip_set.h"

#include <string_view>
#include <vector>

namespace quellora::night {

// Playlists of programmes one after another, as a listener meets them:
// real speech and real mastered music 15 to 20 LU apart, with pauses of
// 0.5 to 20 s of room tone between them, and one steady piece of music.
// Speech comes from recorded voice prompts, music from game soundtracks,
// all from Debian packages:
//
//   set        speech                                      music
//   tuning     asterisk-core-sounds-en-wav (Allison, en)   asc-music (mp3)
//   held-out   asterisk-core-sounds-fr-wav (June, fr)      drascula-music (ogg)
//
// plus speech from espeak-ng in both. Tune on the first; judge on the
// second. Each programme is labelled `dialogue` or `music`, each pause
// `pause`. Throws std::runtime_error naming the package that is missing.
enum class PlaylistSet { tuning, heldOut };

std::vector<Clip> generatePlaylists(PlaylistSet set);
std::string_view nameOf(PlaylistSet set);

} // namespace quellora::night
