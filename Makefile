# make demo   installs what is missing, builds, and renders the built-in test
#             card in every mode into demo/ with the lumatrail tool
# make test   installs what is missing, builds with sanitizers, runs every
#             native test, then cross-builds the Windows module and runs its
#             tests (the PE file, the module loaded under wine rendering the
#             frame set, and those frames compared with the native build's)
# make aex    installs what is missing, builds just the Windows module
# make frei0r installs what is missing, builds just the frei0r filter
#             build/release/frei0r/lumatrail.so (for ffmpeg and melt)
# make format-check  fails when a source file is not formatted as .clang-format
#             says (CI runs it); make format rewrites them
# make perf   builds the benchmarks in release mode and prints one line per
#             case: whole frames, the median of five paired rounds with its
#             spread, each as a multiple of a plain copy and of its floor
#             (./build/bench/lumatrail_perf --filter TEXT runs a few cases)
# make docs   rewrites docs/controls.md, the controls reference, from the
#             effect's parameter table (a test fails when it is out of date)
# make gallery renders every picture of docs/gallery and docs/cookbook from
#             its preset, on the photographs of Debian's python3-skimage (the
#             committed files are reproduced byte for byte)
# make golden re-renders the golden frame set after an intended change of a
#             look: rewrites tests/golden/frame_digests.txt and draws the
#             frames that changed into build/golden/changed.png
# make editor-screenshots  (as root; not part of make test) installs Kdenlive
#             and Shotcut from Debian and redraws docs/editors/kdenlive.png and
#             shotcut.png: each editor under Xvfb with the effect on a clip,
#             its controls panel cropped (tools/frei0r/editor_screenshots.sh)
#
# Build trees: build/release (demo), build/test (native tests, sanitized) and
# build/windows (the mingw-w64 cross build and its wine prefix), kept apart so
# the cross build never slows the native edit-build-test loop.

# FFmpeg's libraries read and write movies; libpng reads PNG files; libtiff checks that a TIFF file's
# strips are all there and decode; libcrypto (libssl-dev) computes the golden
# digests; the ffmpeg program makes the movies the tests read and runs the
# frei0r filter.
NATIVE_PACKAGES := cmake ninja-build g++ binutils pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
                   libopenimageio-dev libtiff-dev libpng-dev nlohmann-json3-dev libcli11-dev zlib1g-dev libssl-dev \
                   libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg melt frei0r-plugins-dev \
                   clang-format git
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine
# The photographs the gallery is rendered from (docs/gallery/CREDITS.md): the
# gallery and the test that re-renders two of its pictures read them.
PHOTO_PACKAGES := python3-skimage
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: docs gallery perf format format-check golden demo test test-native test-windows aex frei0r deps deps-windows deps-photos build-release build-test build-windows bench clean

demo: build-release
	./build/release/lumatrail about
	./build/release/lumatrail demo --out-dir demo

test: test-native test-windows

test-native: build-test deps-photos
	cd build/test && ctest --output-on-failure -j $(JOBS)

# The comparison of the Windows frames runs lumatrail_native_frames from build/test.
test-windows: build-windows build-test
	ctest --preset windows-cross -j $(JOBS)

# Every C++ file git tracks; .clang-format holds the house style.
SOURCES = $$(git ls-files '*.cpp' '*.h')

format-check: deps
	clang-format --style=file --dry-run --Werror $(SOURCES)

format: deps
	clang-format --style=file -i $(SOURCES)

docs: build-release
	./build/release/lumatrail params --markdown > docs/controls.md

gallery: build-release deps-photos
	sh tools/gallery/render_gallery.sh ./build/release/lumatrail docs/gallery --index
	sh tools/gallery/render_gallery.sh ./build/release/lumatrail docs/cookbook

golden: build-test
	./build/test/lumatrail_golden tests/golden/frame_digests.txt build/golden

aex: deps-windows
	cmake --preset windows-cross
	cmake --build --preset windows-cross -j $(JOBS) --target Lumatrail
	@echo "built build/windows/Lumatrail.aex"

frei0r: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMATRAIL_BUILD_TESTS=OFF
	cmake --build build/release -j $(JOBS) --target lumatrail_frei0r
	@echo "built build/release/frei0r/lumatrail.so"

.PHONY: editor-screenshots
editor-screenshots: frei0r
	tools/frei0r/editor_screenshots.sh docs/editors

# Installs the packages named in $(1) that are missing, with the apt-get
# options in $(2).
define install_missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing: $$missing"; \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $(2) $$missing; \
	fi
endef

deps:
	$(call install_missing,$(NATIVE_PACKAGES))

deps-windows: deps
	$(call install_missing,$(WINDOWS_PACKAGES))

# Only the photographs: the package's recommendations are not needed.
deps-photos:
	$(call install_missing,$(PHOTO_PACKAGES),--no-install-recommends)

build-release: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMATRAIL_BUILD_TESTS=OFF
	cmake --build build/release -j $(JOBS)

build-test: deps
	cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMATRAIL_SANITIZE=ON
	cmake --build build/test -j $(JOBS)

build-windows: deps-windows
	cmake --preset windows-cross
	cmake --build --preset windows-cross -j $(JOBS)

bench: deps
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMATRAIL_BUILD_TESTS=OFF -DLUMATRAIL_BUILD_BENCHMARKS=ON
	cmake --build build/bench -j $(JOBS)

perf: bench
	./build/bench/lumatrail_perf

clean:
	rm -rf build
