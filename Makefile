# What a person types. CMake does the real work; see CMakePresets.json.
.PHONY: all deps build test clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset native
	cmake --build --preset native

test: build
	ctest --preset native

clean:
	rm -rf build
