# The two commands of the README:
#   make run    install what is missing, build, start the composer
#   make test   install what is missing, build, run every test (also under AddressSanitizer + UBSan)
# Everything else here serves those two.

JOBS ?= $(shell nproc)

.PHONY: run test deps build build-asan test-default test-asan bench screenshot clean

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

build-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

run: build
	./build/default/src/app/voxletter

test-default: build
	ctest --preset default -j $(JOBS)

test-asan: build-asan
	ctest --preset asan -j $(JOBS)

test: test-default test-asan

bench: build
	bash scripts/run-bench.sh

screenshot: build
	bash scripts/screenshot.sh

clean:
	rm -rf build
