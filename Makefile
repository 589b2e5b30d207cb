# What a person types. CMake does the real work; see CMakePresets.json.
.PHONY: all deps build test clean dll demo test-com

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset native
	cmake --build --preset native

test: build
	ctest --preset native
	$(MAKE) test-com

# Palavox.dll, cross-built; always left at build/win32/Palavox.dll.
dll: deps
	cmake --preset win32
	cmake --build --preset win32
	cmake -E copy_if_different build/win32-tree/shell/com/Palavox.dll build/win32/Palavox.dll

# Real clients against the DLL under Wine.
test-com: dll
	tests/com/run-clients.sh

demo: dll
	scripts/demo.sh

clean:
	rm -rf build
