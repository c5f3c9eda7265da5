// The extraction stage: the package turned into the temporary setup file.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "trailer.h"

constexpr int kCopyChunk = 4096;

// The first stage of the run. On success the temporary setup file named by `tempSetupPath`
// is complete and closed; on failure it has been reported and no such file is left behind.
int ExtractSecondarySetup();

// Writes the temporary setup file's contents to `output`: the decoded program, the non-empty
// blocks in the order 1 to 4, and a trailer whose offsets count from the start of `output`.
// Returns 0, reporting nothing, when a read or write fails. Closes neither stream.
int WriteSetupFile(FILE* package, const PackageTrailer* trailer, FILE* output);

// Copies `size` bytes at `offset` of `input` to the end of `output` in chunks of 4,096 bytes
// and gives their place there. A size of 0 copies nothing and gives 0, 0.
int CopyBlock(FILE* input, FILE* output, uint32_t offset, uint32_t size,
              uint32_t* newOffset, uint32_t* newSize);
