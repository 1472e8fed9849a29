# make demo   installs what is missing, builds, and runs the lumatrail tool
# make test   installs what is missing, builds with sanitizers, runs every test
#
# Build trees: build/release (demo) and build/test (tests, sanitized).

PACKAGES := cmake ninja-build g++ binutils libgtest-dev libgmock-dev libbenchmark-dev
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: demo test deps build-release build-test bench clean

demo: build-release
	./build/release/lumatrail

test: build-test
	cd build/test && ctest --output-on-failure -j $(JOBS)

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing: $$missing"; \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	fi

build-release: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMATRAIL_BUILD_TESTS=OFF
	cmake --build build/release -j $(JOBS)

build-test: deps
	cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMATRAIL_SANITIZE=ON
	cmake --build build/test -j $(JOBS)

bench: deps
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMATRAIL_BUILD_TESTS=OFF -DLUMATRAIL_BUILD_BENCHMARKS=ON
	cmake --build build/bench -j $(JOBS)

clean:
	rm -rf build
