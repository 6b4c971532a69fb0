# Set-up and everyday commands. Each target installs what is missing, configures, builds, runs.
JOBS ?= $(shell nproc)
REL  := build/rel
ASAN := build/asan
export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

.PHONY: deps rel tool asan tsan test test-rel test-asan demo package install clean bench docs

deps:
	@scripts/install-deps.sh

rel: deps
	cmake -S . -B $(REL) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(REL) -j $(JOBS)

# Only the libraries and qmx, in the same tree as `rel`: no test programs.
tool: deps
	cmake -S . -B $(REL) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(REL) -j $(JOBS) --target qmx

asan: deps
	cmake -S . -B $(ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQMX_SANITIZE=ON -DQMX_BUILD_BENCHMARKS=OFF
	cmake --build $(ASAN) -j $(JOBS)

test-rel: rel
	cd $(REL) && ctest --output-on-failure -j $(JOBS)

test-asan: asan
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS)

# The threaded and multi-process tests under ThreadSanitizer.
TSAN := build/tsan
tsan: deps
	cmake -S . -B $(TSAN) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_TSAN=ON -DQMX_BUILD_BENCHMARKS=OFF
	cmake --build $(TSAN) -j $(JOBS)
	cd $(TSAN) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'
TSAN_TESTS ?= Concurrency|MultiProcess|Registry|Thread|ConcurrentCrc|Conversions|Checksums.Large

# The whole suite, in a release build and under AddressSanitizer + UBSan.
test: test-rel test-asan

demo: tool
	rm -f build/demo.qmz && $(REL)/bin/qmx demo build/demo.qmz && $(REL)/bin/qmx ls -l build/demo.qmz

# Debian packages in build/packages: the runtime libraries, the development files, qmx.
PACKAGES := build/packages
package: tool
	rm -rf $(PACKAGES) && cd $(REL) && cpack -G DEB -B $(CURDIR)/$(PACKAGES)
	@for deb in $(PACKAGES)/*.deb; do \
	  echo "$$deb"; dpkg-deb -f "$$deb" Package Version Depends | sed 's/^/  /'; done

# API reference of the public headers (Doxygen); needs a configured tree, not a built one.
docs: deps
	cmake -S . -B $(REL) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(REL) --target docs

install: rel
	cmake --install $(REL) --prefix $(or $(PREFIX),/usr/local)

clean:
	rm -rf build

# Benchmarks: a Release build of qmx_bench, one run with the default sizes; the table goes to
# stdout and build/bench/results.md, with build/bench/results.csv and build/bench/throughput.png.
BENCH_BUILD := build/bench-rel
BENCH_OUT   := build/bench

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_BUILD_TESTS=OFF -DQMX_BUILD_BENCHMARKS=ON
	cmake --build $(BENCH_BUILD) --target qmx_bench -j $(JOBS)
	@# A failed contender still leaves the table and the chart of the others, then fails make.
	rm -rf $(BENCH_OUT)/scratch; \
	$(BENCH_BUILD)/bin/qmx_bench --out $(BENCH_OUT) --dir $(BENCH_OUT)/scratch $(BENCH_FLAGS); \
	rc=$$?; rm -rf $(BENCH_OUT)/scratch; \
	gnuplot -e "datafile='$(BENCH_OUT)/results.dat'; outfile='$(BENCH_OUT)/throughput.png'" \
	  bench/throughput.gp || rc=1; \
	echo "Results: $(BENCH_OUT)/results.md $(BENCH_OUT)/results.csv $(BENCH_OUT)/throughput.png"; \
	exit $$rc

# ---- Damaged files: fuzzing and the mutation run ------------------------------------------
# The fuzz target needs clang with libFuzzer; its tree is instrumented throughout (QMX_FUZZ).
# FUZZ_SECONDS bounds the fuzzer; COPIES is the number of damaged copies `qmx check` judges.
FUZZ         := build/fuzz
FUZZ_SECONDS ?= 300
COPIES       ?= 2400
.PHONY: fuzz fuzz-build fuzz-run mutation-run

fuzz-build: deps
	cmake -S . -B $(FUZZ) -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQMX_FUZZ=ON -DQMX_BUILD_BENCHMARKS=OFF
	cmake --build $(FUZZ) -j $(JOBS) --target qmx_fuzz_container qmx_fuzz_seeds

# Seeds: the seed writer's containers and a `qmx demo` file. Crashes are collected, not fatal,
# then replayed and attributed: HDF5's are listed with their stacks, any of ours fails make.
# Inputs stay in $(FUZZ)/work/artifacts; pass one to the fuzz target to replay it.
fuzz-run: fuzz-build rel
	mkdir -p $(FUZZ)/seeds
	$(FUZZ)/bin/qmx_fuzz_seeds $(FUZZ)/seeds
	rm -f $(FUZZ)/seeds/demo.qmz && $(REL)/bin/qmx demo $(FUZZ)/seeds/demo.qmz
	python3 fuzz/fuzz_run.py --fuzzer $(FUZZ)/bin/qmx_fuzz_container --seconds $(FUZZ_SECONDS) \
	  --jobs $(JOBS) --work $(FUZZ)/work --suppressions fuzz/lsan.supp $(FUZZ)/seeds

mutation-run: rel
	rm -f build/mutation-original.qmz && $(REL)/bin/qmx demo build/mutation-original.qmz
	/usr/bin/python3 fuzz/mutation_run.py --qmx $(REL)/bin/qmx --original build/mutation-original.qmz \
	  --copies $(COPIES) --keep build/mutation-wrong

fuzz: fuzz-run mutation-run

# Host-read campaign: CAMPAIGN_COPIES damaged copies of a `qmx demo` file and of a large
# generated container (over 200 objects), each read completely through the factory and the
# DAOs by a child process with a watchdog. Fails on any death or hang of the host, or when
# more than CAMPAIGN_MAX_SILENT percent of the copies read as different data without any
# exception (the table also counts the stricter "silent difference": one answer differed
# although other reads of the same copy threw). Copies listed as findings stay in build/campaign/findings; CAMPAIGN_BUILD=build/asan
# reads them with the sanitized reader (after `make asan`) for stacks of every death.
CAMPAIGN_BUILD      ?= $(REL)
CAMPAIGN_COPIES     ?= 1000
CAMPAIGN_SEED       ?= 19
CAMPAIGN_MAX_SILENT ?= 0.5
CAMPAIGN_DIR        := build/campaign
.PHONY: host-read-campaign

host-read-campaign: $(if $(filter $(REL),$(CAMPAIGN_BUILD)),rel)
	cmake -DQMX=$(CAMPAIGN_BUILD)/bin/qmx -DGENERATE=$(CAMPAIGN_BUILD)/bin/qmx_hostread_generate \
	  -DDIR=$(CAMPAIGN_DIR) -P tools/hostread/originals.cmake
	rm -rf $(CAMPAIGN_DIR)/findings
	python3 tools/hostread/host_read_campaign.py --reader $(CAMPAIGN_BUILD)/bin/qmx_host_reader \
	  --copies $(CAMPAIGN_COPIES) --seed $(CAMPAIGN_SEED) --jobs $(JOBS) --keep $(CAMPAIGN_DIR)/findings \
	  --require-no-deaths --max-unflagged-percent $(CAMPAIGN_MAX_SILENT) \
	  $(CAMPAIGN_DIR)/demo.qmz tools/hostread/demo.manifest $(CAMPAIGN_DIR)/large.qmz $(CAMPAIGN_DIR)/large.manifest

# Crash harness: writers killed at random times and just before their N-th write, sync or
# unlink, 1,000 trials per kill mode (TRIALS=n for another count). First the file library's own
# writer, with the journal and the same without it; then a host's units of work through the DAO
# factory and the DAOs, also killed while the next open rolls an interrupted unit back. Fails
# when a journaled trial or a DAO trial leaves damage; both tables are printed either way.
.PHONY: crashtest
crashtest: rel
	rc=0; \
	$(REL)/bin/qmx_crashtest --writer $(REL)/bin/qmx_crash_writer --shim $(REL)/lib/libqmx_kill_shim.so \
	  --trials $(or $(TRIALS),1000) --require-clean || rc=1; \
	$(REL)/bin/qmx_crashtest --workload dao --writer $(REL)/bin/qmx_crash_dao_writer \
	  --shim $(REL)/lib/libqmx_kill_shim.so --trials $(or $(TRIALS),1000) --require-clean || rc=1; \
	$(REL)/bin/qmx_crashtest --workload dao-append --writer $(REL)/bin/qmx_crash_dao_writer \
	  --shim $(REL)/lib/libqmx_kill_shim.so --trials $(or $(TRIALS),1000) --require-clean || rc=1; \
	exit $$rc
