# Quick start: `make demo` boots the clock demo's firmware image on the virtual board;
# `make test` builds the host, target-check and target presets and runs every test.
.PHONY: all deps host target-check target test demo check-long check-sanitize fuzz clean

all: host target-check target

deps:
	@scripts/install-deps.sh

host: deps
	cmake --preset host >/dev/null
	cmake --build --preset host

target-check: deps
	cmake --preset target-check >/dev/null
	cmake --build --preset target-check

target: deps
	cmake --preset target >/dev/null
	cmake --build --preset target

test: host target-check target
	ctest --preset host

demo: host target
	build/host/bin/pic32sim build/target/images/clockdemo.elf

# Long checks run on demand (exhaustive and billion-operand arithmetic checks).
check-long: host
	cmake --build --preset host --target check-long

# Every host test again, built with AddressSanitizer and UndefinedBehaviorSanitizer
# (build/host-sanitize); the system tests run the sanitized pic32sim on the target images.
check-sanitize: deps target-check target
	cmake --preset host-sanitize >/dev/null
	cmake --build --preset host-sanitize
	ctest --preset host-sanitize

# Each libFuzzer target for FUZZ_SECONDS on a fresh copy of its seeds (build/fuzz); what
# fails lands in fuzz/regressions/<target>/, which `make test` runs.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	fuzz/run.sh $(FUZZ_SECONDS)

clean:
	rm -rf build
