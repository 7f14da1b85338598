// How the export job obtains its encoder. The library cannot be made to fail its creation on
// demand, so tests may hand in their own factory; the program always uses lame_init.
#pragma once

#include <lame/lame.h>

using Mp3EncoderFactory = lame_t (*)();

// Creates the encoder of one export job; lame_init unless a test replaced it.
extern Mp3EncoderFactory createMp3Encoder;
