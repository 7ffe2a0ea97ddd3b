# Quick start: `make demo` and `make test`. Both install what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build test test-plain test-sanitize demo bench bench-render fuzz soak install package package-check gallery clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Tests never see the user's settings: each run gets an empty preferences folder.
test-plain: build
	prefs=$$(mktemp -d) && cd $(BUILD) && XDG_CONFIG_HOME=$$prefs ctest --output-on-failure -j $(JOBS); \
	  rc=$$?; rm -rf "$$prefs"; exit $$rc

$(ASAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE=ON $(CMAKE_ARGS)

test-sanitize: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	prefs=$$(mktemp -d) && cd $(ASAN_BUILD) && XDG_CONFIG_HOME=$$prefs ASAN_OPTIONS=detect_leaks=1 \
	  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -LE no-sanitize; \
	  rc=$$?; rm -rf "$$prefs"; exit $$rc

# The whole suite, plainly and under the sanitizers.
test: test-plain test-sanitize

demo: build
	@bash scripts/demo.sh $(BUILD)

# The pictures of the effect that the README shows, made afresh by the build.
gallery: build
	cp $(BUILD)/gallery/gallery.png docs/gallery.png

# The kernels, the colour conversions and the peak memory of large renders;
# bench-render compares whole renders with ffmpeg (a few minutes each).
bench: build
	$(BUILD)/bin/vexolumen_bench
	$(BUILD)/bin/vexolumen_convert_bench
	bash bench/peak_memory.sh $(BUILD)

bench-render: build
	bash bench/render_vs_ffmpeg.sh $(BUILD)

fuzz: deps
	bash scripts/fuzz.sh

soak: build
	bash scripts/soak.sh $(BUILD)

install: build
	cmake --install $(BUILD)

# A Debian package in $(BUILD)/, from what `make install` would put in place.
package: build
	cd $(BUILD) && cpack -G DEB

# Installs the package for real, runs the filter from where FFmpeg finds it
# without FREI0R_PATH, and removes the package again (needs root or sudo).
package-check: package
	bash scripts/package-check.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
