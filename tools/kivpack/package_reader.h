// What `kivpack inspect` shows and `kivpack verify` checks: a package's pieces, its program
// stream decoded without output, and every fault found in them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/decoder.h"
#include "package/trailer.h"

struct PackageFault {
    std::string text;             // one sentence, without the file's name
    bool stopsExtraction = false; // the stub's extraction fails on it
};

struct PackageReport {
    TrailerPlace place;        // file length, where the trailer stands, the certificate table
    PackageTrailer trailer;
    bool imageIsExecutable = false;  // the file starts with an "MZ" image
    bool streamInFile = false;       // programOffset lies before the end of the file
    DecodeResult stream;             // the program decoded from programOffset, as the stub does
    std::vector<PackageFault> faults;
};

// Reads the package's trailer and decodes its program stream (to the end token or the end of
// the file, as the stub does) without writing it anywhere. Returns an empty text and fills
// `report`, or, naming the file as `name`, why it is no package at all or could not be read.
// The faults of a package that has a trailer go into report->faults.
std::string AnalyzePackage(FILE* package, const std::string& name, PackageReport* report);

// The size of the temporary setup file the stub writes for the package.
uint64_t SetupFileSize(const PackageReport& report);
