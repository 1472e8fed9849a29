# make demo   installs what is missing, builds, and renders the built-in test
#             card in every mode into demo/ with the lumatrail tool
# make test   installs what is missing, builds with sanitizers, runs every
#             native test, then cross-builds the Windows module and runs its
#             tests (the PE file, the module loaded under wine rendering the
#             frame set, and those frames compared with the native build's),
#             then builds the fuzz targets with clang and runs each over its
#             seed corpus and 30 s of new inputs (one test per target)
# make fuzz   builds the libFuzzer targets (tests/fuzz, build/fuzz) and runs
#             each in turn, FUZZ_SECONDS (600) in all, printing each one's
#             executions per second and coverage; inputs it keeps stay in
#             build/fuzz/tests/fuzz/work, crashes are saved there too
# make aex    installs what is missing, builds just the Windows module
# make frei0r installs what is missing, builds just the frei0r filter
#             build/release/frei0r/lumatrail.so (for ffmpeg and melt)
# make format-check  fails when a source file is not formatted as .clang-format
#             says (CI runs it); make format rewrites them
# make perf   builds the benchmarks in release mode and prints one line per
#             case: whole frames, the median of five paired rounds with its
#             spread, each as a multiple of a plain copy and of its floor
#             (./build/bench/lumatrail_perf --filter TEXT runs a few cases)
# make docs   rewrites docs/controls.md, the controls reference, and the
#             README's table of frei0r parameters and the editors' description
#             files of the frei0r filter (Kdenlive's
#             tools/frei0r/kdenlive/frei0r_lumatrail.xml, Shotcut's
#             tools/frei0r/shotcut/lumatrail/) from the effect's parameter
#             table (a test fails when one is out of date)
# make install-user   builds the frei0r filter and installs it with the
#             editors' files for this user, without root (README, "Kdenlive
#             and Shotcut"); make uninstall-user removes exactly those files
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
# Build trees: build/release (demo), build/test (native tests, sanitized),
# build/windows (the mingw-w64 cross build and its wine prefix) and build/fuzz
# (clang, the fuzz targets only), kept apart so the cross build and the fuzz
# build never slow the native edit-build-test loop.

# FFmpeg's libraries read and write movies; libpng reads PNG files; libtiff checks that a TIFF file's
# strips are all there and decode; libcrypto (libssl-dev) computes the golden
# digests; the ffmpeg program makes the movies the tests read and runs the
# frei0r filter; qtdeclarative5-dev-tools's qmllint checks the Shotcut files' syntax.
NATIVE_PACKAGES := cmake ninja-build g++ binutils pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
                   libopenimageio-dev libtiff-dev libpng-dev nlohmann-json3-dev libcli11-dev zlib1g-dev libssl-dev \
                   libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg melt frei0r-plugins-dev \
                   qtdeclarative5-dev-tools python3 clang-format git
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine
# The photographs the gallery is rendered from (docs/gallery/CREDITS.md): the
# gallery and the test that re-renders two of its pictures read them.
PHOTO_PACKAGES := python3-skimage
# GStreamer's command-line tools and its frei0r wrapper (plugins-bad), with the
# PNG, MP4 and H.264 elements the tests and the README's pipelines use
# (plugins-good; libav decodes, plugins-ugly's x264enc encodes).
GSTREAMER_PACKAGES := gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
                      gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
# clang and its runtime libraries build the fuzz targets with libFuzzer.
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
FUZZ_SECONDS ?= 600
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: install-user uninstall-user install-shotcut uninstall-shotcut docs gallery perf format format-check golden demo test test-release test-native test-windows test-fuzz fuzz aex frei0r deps deps-windows deps-photos deps-gstreamer deps-fuzz build-release build-test build-windows build-fuzz bench clean

demo: build-release
	./build/release/lumatrail about
	./build/release/lumatrail demo --out-dir demo

test: test-release test-native test-windows test-fuzz

# make demo's build, optimised: some warnings (errors here) come only at -O3.
test-release: build-release
	./build/release/lumatrail about > /dev/null

test-native: build-test deps-photos deps-gstreamer
	cd build/test && ctest --output-on-failure -j $(JOBS)

# The comparison of the Windows frames runs lumatrail_native_frames from build/test.
test-windows: build-windows build-test
	ctest --preset windows-cross -j $(JOBS)

# The fuzz targets as regression tests: the seed corpus (with every input
# that once crashed) and a short run of new inputs each.
test-fuzz: build-fuzz
	ctest --preset fuzz -L fuzz -j $(JOBS)

fuzz: build-fuzz
	sh tests/fuzz/run_fuzzers.sh build/fuzz . $(FUZZ_SECONDS)

# Every C++ file git tracks; .clang-format holds the house style.
SOURCES = $$(git ls-files '*.cpp' '*.h')

format-check: deps
	clang-format --style=file --dry-run --Werror $(SOURCES)

format: deps
	clang-format --style=file -i $(SOURCES)

KDENLIVE_EFFECT := tools/frei0r/kdenlive/frei0r_lumatrail.xml
SHOTCUT_FILTER := tools/frei0r/shotcut/lumatrail

docs: build-release
	./build/release/lumatrail params --markdown > docs/controls.md
	sh tools/frei0r/readme_table.sh ./build/release/lumatrail README.md
	./build/release/lumatrail params --kdenlive > $(KDENLIVE_EFFECT)
	./build/release/lumatrail params --shotcut-meta > $(SHOTCUT_FILTER)/meta.qml
	./build/release/lumatrail params --shotcut-ui > $(SHOTCUT_FILTER)/ui.qml

# Per user, without root: the module where MLT (melt, Kdenlive, Shotcut) looks
# by default, Kdenlive's description where Kdenlive reads its user's effects.
# Shotcut reads filter panels only from its own qml/filters folder; for a
# Shotcut the user owns (an unpacked release), SHOTCUT_FILTERS=.../qml/filters
# adds the panel there; `sudo make install-shotcut` installs it system-wide.
# FREI0R_MODULE=PATH installs that module instead of building the release one.
FREI0R_USER_DIR = $(HOME)/.frei0r-1/lib
KDENLIVE_USER_DIR = $(HOME)/.local/share/kdenlive/effects
SHOTCUT_SYSTEM_FILTERS = /usr/share/shotcut/qml/filters
ifeq ($(origin FREI0R_MODULE),undefined)
FREI0R_MODULE := build/release/frei0r/lumatrail.so
INSTALL_BUILD := frei0r
endif

# Copies Shotcut's panel into the filters folder $(1), or removes it from there.
define shotcut_install
	install -d "$(1)/lumatrail"
	install -m 644 $(SHOTCUT_FILTER)/meta.qml $(SHOTCUT_FILTER)/ui.qml "$(1)/lumatrail/"
endef
define shotcut_uninstall
	rm -f "$(1)/lumatrail/meta.qml" "$(1)/lumatrail/ui.qml"
	if [ -d "$(1)/lumatrail" ]; then rmdir "$(1)/lumatrail"; fi
endef

install-user: $(INSTALL_BUILD)
	install -d "$(FREI0R_USER_DIR)" "$(KDENLIVE_USER_DIR)"
	install -m 644 "$(FREI0R_MODULE)" "$(FREI0R_USER_DIR)/lumatrail.so"
	install -m 644 $(KDENLIVE_EFFECT) "$(KDENLIVE_USER_DIR)/frei0r_lumatrail.xml"
ifneq ($(SHOTCUT_FILTERS),)
	$(call shotcut_install,$(SHOTCUT_FILTERS))
else
	@echo "Shotcut reads filter panels only from its own qml/filters folder: sudo make install-shotcut (or SHOTCUT_FILTERS=DIR)"
endif

uninstall-user:
	rm -f "$(FREI0R_USER_DIR)/lumatrail.so" "$(KDENLIVE_USER_DIR)/frei0r_lumatrail.xml"
ifneq ($(SHOTCUT_FILTERS),)
	$(call shotcut_uninstall,$(SHOTCUT_FILTERS))
endif

# Root: the panel for Debian's Shotcut (the module stays per user: make install-user).
install-shotcut:
	$(call shotcut_install,$(SHOTCUT_SYSTEM_FILTERS))

uninstall-shotcut:
	$(call shotcut_uninstall,$(SHOTCUT_SYSTEM_FILTERS))

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

# GStreamer without its recommendations (no desktop integration is needed).
deps-gstreamer:
	$(call install_missing,$(GSTREAMER_PACKAGES),--no-install-recommends)

deps-fuzz: deps
	$(call install_missing,$(FUZZ_PACKAGES))

# Only the fuzz targets and what they link.
build-fuzz: deps-fuzz
	cmake --preset fuzz
	cmake --build build/fuzz -j $(JOBS) --target lumatrail_fuzzers

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
