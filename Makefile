# make demo | make test | make build | make bench | make fuzz | make clean
# Every target first installs what is missing (Debian 12, as root); see scripts/install-deps.sh.

BUILD := build
JOBS ?= $(shell nproc)
CMAKE_BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps build win32 host test sanitize fuzz-smoke demo bench fuzz clean

all: build

deps:
	@sh scripts/install-deps.sh

win32: deps
	cmake -S . -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
	cmake --build $(BUILD)/win32 -j $(JOBS)

host: win32
	cmake -S . -B $(BUILD)/host -DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) \
	  -DKIV_STUB_IMAGE=$(CURDIR)/$(BUILD)/win32/Setup.exe >/dev/null
	cmake --build $(BUILD)/host -j $(JOBS)

build: host

# Every test: the sanitizer run, short fuzz runs, then host unit tests, fuzz replays and the
# end-to-end cases under Wine through ctest, whose summary closes the output.
test: build sanitize fuzz-smoke
	cd $(BUILD)/host && ctest --output-on-failure -j $(JOBS)

sanitize: win32
	cmake -S . -B $(BUILD)/sanitize -DCMAKE_BUILD_TYPE=Debug -DKIV_SANITIZE=ON \
	  -DKIV_STUB_IMAGE=$(CURDIR)/$(BUILD)/win32/Setup.exe >/dev/null
	cmake --build $(BUILD)/sanitize -j $(JOBS) --target unit_tests
	cd $(BUILD)/sanitize && ./unit_tests --gtest_brief=1

demo: build
	sh tests/wine/demo.sh

bench: build
	cmake --build $(BUILD)/host -j $(JOBS) --target kiv_bench
	sh bench/run_bench.sh

# Each fuzz target for a short, fixed time, as part of the tests.
fuzz-smoke: deps
	sh fuzz/run_fuzz.sh 20

# Each fuzz target for longer: make fuzz FUZZ_SECONDS=600
FUZZ_SECONDS ?= 300
fuzz: deps
	sh fuzz/run_fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
