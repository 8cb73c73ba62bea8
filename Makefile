# The two commands of the README:
#   make run    install what is missing, build, start the composer
#   make test   install what is missing, build, run every test (also under AddressSanitizer + UBSan, and
#               under ThreadSanitizer)
# Everything else here serves those two.

JOBS ?= $(shell nproc)

.PHONY: run test deps build build-asan build-tsan test-default test-asan test-tsan bench screenshot clean

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

build-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

build-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)

run: build
	./build/default/src/app/voxletter

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
