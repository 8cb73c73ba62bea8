# The commands of the README:
#   make run      install what building and running need, build the composer, start it
#   make test     install that and what the tests need, build, run every test (also under
#                 AddressSanitizer + UBSan, and under ThreadSanitizer)
#   make package  build the Debian package build/voxletter_VERSION_ARCH.deb
# Everything else here serves those. `make run` and `make package` never install what only tests need
# (servers among it): scripts/install-deps.sh takes the group.

JOBS ?= $(shell nproc)

.PHONY: run test package deps deps-package deps-test build build-app build-asan build-tsan test-default test-asan test-tsan bench screenshot clean

deps:
	@bash scripts/install-deps.sh run

deps-package:
	@bash scripts/install-deps.sh package

deps-test:
	@bash scripts/install-deps.sh test

# The tests and benchmarks are asked for by name: a tree configured by `make run` alone has them off
# (their libraries were not installed), and this turns them on again.
WITH_TESTS = -DVOX_BUILD_TESTS=ON -DVOX_BUILD_BENCH=ON

build: deps-test
	cmake --preset default $(WITH_TESTS)
	cmake --build --preset default -j $(JOBS)

# The two programs alone (and the files installed with them), in the same tree; whatever else is configured there is left as it is.
build-app: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target voxletter voxletter-cli vox_dist_files

build-asan: deps-test
	cmake --preset asan -DVOX_BUILD_TESTS=ON
	cmake --build --preset asan -j $(JOBS)

build-tsan: deps-test
	cmake --preset tsan -DVOX_BUILD_TESTS=ON
	cmake --build --preset tsan -j $(JOBS)

run: build-app
	./build/default/src/app/voxletter

# The .deb, from the programs of the default tree (stripped by CPack); dpkg-shlibdeps computes its
# depends from the binaries.
package: deps-package build-app
	cd build/default && cpack -G DEB -B $(CURDIR)/build

test-default: build
	ctest --preset default -j $(JOBS)

test-asan: build-asan
	ctest --preset asan -j $(JOBS)

test-tsan: build-tsan
	ctest --preset tsan -j $(JOBS)

test: test-default test-asan test-tsan

bench: build
	bash scripts/run-bench.sh

screenshot: build
	bash scripts/screenshot.sh

clean:
	rm -rf build
