# Thin wrapper over the CMake presets; POSIX make (works with BSD make too).
#   make run    build and run the daemon
#   make test   build and run every test: plain, ASan+UBSan and TSan builds,
#               then the fuzz targets (corpus replay and a short run each)
#   make demo   try it without hardware (emulated boxes)

run:
	cmake --preset dev
	cmake --build --preset dev --target zeva-rotator
	./build/dev/app/zeva-rotator

test:
	cmake --workflow --preset dev
	cmake --workflow --preset asan
	cmake --workflow --preset tsan
	fuzz/run.sh 20
	cmake --workflow --preset fuzz

test-dev:
	cmake --workflow --preset dev

demo:
	tools/demo.sh

.PHONY: run test test-dev demo
