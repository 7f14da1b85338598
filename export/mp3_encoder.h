// How the export job obtains and configures its encoders. The library cannot be made to fail
// its creation on demand, so tests may hand in their own factory; the program uses lame_init.
#pragma once

#include <lame/lame.h>

#include <cstdint>

using Mp3EncoderFactory = lame_t (*)();

// Creates the encoder of one export job; lame_init unless a test replaced it.
extern Mp3EncoderFactory createMp3Encoder;

// Configures an encoder for input of channels (1 or 2) at sampleRate as every export encodes;
// returns false when the encoder refuses the settings.
bool configureMp3Encoder(lame_t lame, int32_t channels, uint32_t sampleRate);
