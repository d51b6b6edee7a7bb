#!/usr/bin/env python3
"""Mutation check: does the test suite notice faults that could really happen?

Each mutant below is one small change to one source file (a flipped
comparison, a dropped check, an off-by-one, a skipped step, a wrong
separator, a missing message). Every mutant is applied alone, the program
and the tests are rebuilt in build-mutants/, and the whole suite runs; the
mutant is killed when a test fails (or times out), and survives when the
suite still passes. A mutant whose text is no longer in the source is
reported as stale, one that does not compile as invalid.

Every test runs against every mutant, so the report is a kill matrix: for
each mutant, the tests that fail with it. A cut of tests is safe when every
mutant keeps a killer. --cost-guards runs the cost guards after the suite,
for mutants that only the counts can see.

Usage: tools/mutants.py [--list] [--only NAME ...] [--report FILE] [--cost-guards]
The source tree is restored after every mutant, also when interrupted.
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-mutants")

# (name, file below src/, original text, mutated text)
MUTANTS = [
    # platform
    ("no-unnamed-files-no-copy", "platform/posix/File.cpp",
     "  if (!lacksUnnamedFiles(errno)) return errnoCode();\n", "  return errnoCode();\n"),
    ("pipe-opened-as-source", "platform/posix/File.cpp",
     "  if (!S_ISREG(info.st_mode)) {", "  if (S_ISDIR(info.st_mode)) {"),
    ("temporary-name-left", "platform/posix/File.cpp",
     "    removeName(posix::toNativePath(file.temporaryPath).c_str());\n", ""),
    ("busy-name-not-removed-again", "platform/posix/File.cpp",
     "errno == EBUSY && attempt < 100", "errno == EBUSY && attempt < 0"),
    ("mkdir-error-ignored", "platform/posix/FileSystem.cpp",
     "  return errnoCode(mkdirError);\n}", "  return {};\n}"),
    ("links-to-files-not-followed", "platform/posix/FileSystem.cpp",
     "const int flags = read.kind == DT_REG ? AT_SYMLINK_NOFOLLOW : 0;",
     "const int flags = AT_SYMLINK_NOFOLLOW;"),
    ("status-chunk-short", "platform/posix/FileSystem.cpp",
     "i = run * kQueriesTaken; i < end; ++i) queryStatus(", "i = run * kQueriesTaken; i + 1 < end; ++i) queryStatus("),
    ("error-text-without-line-end", "platform/posix/System.cpp",
     'return std::string(text) + "\\n";', "return std::string(text);"),
    ("empty-text-converted", "platform/posix/Text.cpp",
     "  if (bytes.empty()) return refusedEmptyText();\n", ""),
    ("raw-byte-lost", "platform/Utf.cpp",
     "*write++ = static_cast<char>(unit - kEscapeBase);  // an escaped raw byte",
     "*write++ = '?';"),
    ("digest-of-half", "platform/posix/Md5.cpp",
     "MD5_Update(&state->context, data, size)", "MD5_Update(&state->context, data, size / 2)"),
    # base
    ("join-doubles-separator", "base/PathUtil.cpp",
     "if (!left.empty() && !isPathSeparator(left.back()))", "if (!left.empty())"),
    ("parent-ignores-backslash", "base/PathUtil.cpp",
     'path.find_last_of(u"\\\\/")', 'path.find_last_of(u"/")'),
    ("conversion-message-swapped", "base/TextEncoding.cpp",
     "if (error.step == Step::SizeQuery) {", "if (error.step != Step::SizeQuery) {"),
    ("message-past-nul", "base/Logger.cpp",
     "  text = text.substr(0, text.find('\\0'));\n", ""),
    ("held-back-message-lost", "base/Logger.cpp",
     "  if (!logger.unwritten.empty() && !logger.errorFilePath.empty()) logger.openErrorFile();\n", ""),
    ("failed-write-unnoticed", "base/TextWriter.cpp",
     "  buffer.clear();\n  return !error;", "  buffer.clear();\n  return true;"),
    # job
    ("trailing-tab-counts-as-field", "job/InputFile.cpp",
     "return line.back() == '\\t' ? tabs : tabs + 1;", "return tabs + 1;"),
    ("lone-cr-dropped", "job/LineReader.cpp",
     "} else if (p[1] != '\\n') {", "} else {"),
    ("negative-limit-ends-retries", "job/InputFile.cpp",
     "if (negative) return magnitude == 0 ? 0 : kUnlimited;", "if (negative) return 0;"),
    ("one-wait-too-many", "job/InputFile.cpp",
     "if (waitSeconds >= limit) break;", "if (waitSeconds > limit) break;"),
    ("line-piece-one-longer", "job/LineReader.h",
     "kMaxPiece = 1023;", "kMaxPiece = 1024;"),
    # store
    ("three-levels-for-larger-types", "store/StorageLayout.cpp",
     "storageType == kThreeLevelStorageType ? 3 : 2", "storageType >= kThreeLevelStorageType ? 3 : 2"),
    ("storage-type-overflow-accepted", "store/StorageLayout.cpp",
     "  if (!negative && magnitude == kLimit) return std::nullopt;\n", ""),
    ("empty-root-accepted", "store/StorageLayout.cpp",
     "  if (root.empty()) {", "  if (false) {"),
    ("layout-separator-wrong", "store/StorageLayout.cpp",
     "    directory.append(uuid.substr(start, kCharactersPerLevel));\n    directory.push_back(platform::kNativeSeparator);",
     "    directory.append(uuid.substr(start, kCharactersPerLevel));\n    directory.push_back(u'\\\\');"),
    # transfer
    ("copy-loop-short-by-one", "transfer/FileCopyCommand.cpp",
     "  while (moved != sourceSize) {\n    // The pipeline's", "  while (moved + 1 < sourceSize) {\n    // The pipeline's"),
    ("read-past-opening-size", "transfer/FileCopyCommand.cpp",
     "std::min<std::uint64_t>(capacity, sourceSize - bytesReadFromSource)", "std::uint64_t{capacity}"),
    ("existing-destination-not-hashed", "transfer/FileCopyCommand.cpp",
     "  if (!WriteToHandle(target)) {", "  if (target != platform::kInvalidFileHandle && !WriteToHandle(target)) {"),
    ("stored-file-never-linked", "transfer/Publisher.cpp",
     "const std::error_code error = platform::publishTemporaryFile(copy.file, copy.destination);",
     "const std::error_code error{};"),
    ("data-never-synced", "transfer/Publisher.cpp",
     "  if (durable) failedAt = syncData(failedAt, failure);\n", ""),
    ("failed-file-sync-ignored", "transfer/Publisher.cpp",
     "    if (const std::error_code& error = errors[started++]) {",
     "    if (const std::error_code& error = errors[started++]; false && error) {"),
    ("failed-entry-write-published", "transfer/Publisher.cpp",
     "    if (!writeFailure.empty() && failedAt == pending.size()) {", "    if (false) {"),
    ("failed-entry-write-ignored", "transfer/DigestPipeline.cpp",
     "      digest.writeFailed.store(true, std::memory_order_relaxed);\n", ""),
    ("names-never-synced", "transfer/Publisher.cpp",
     "if (durable && published > 0 && !syncNames(published, failure)) failedAt = 0;", ""),
    ("new-directories-never-synced", "transfer/Publisher.cpp",
     "level < copy.parentsWithNewNames;", "level < 0;"),
    # seen by the cost guards only (--cost-guards)
    ("batch-of-one", "transfer/Publisher.cpp",
     "  const std::uint64_t wanted = std::clamp(copiesExpected / kBatchesPerRun, kSmallestBatch, kLargestBatch);",
     "  const std::uint64_t wanted = 1;"),
    ("kernel-copy-never-used", "transfer/FileCopyCommand.cpp",
     "if (!hashEnabled() && file != platform::kInvalidFileHandle && copyInKernel(file, moved)) return true;",
     "if (false && copyInKernel(file, moved)) return true;"),
    ("every-sync-woken-alone", "transfer/FileSyncs.cpp",
     "queue.size() < (lanes + 1) * kSyncsPerWake", "queue.size() < lanes + 1"),
    ("line-of-failed-publication", "transfer/Publisher.cpp",
     "  failedAt = std::min(failedAt, published);\n", ""),
    ("digest-digit-wrong", "base/Hex.h",
     "out.push_back(kDigits[bytes[i] & 0xF]);", "out.push_back(kDigits[bytes[i] >> 4]);"),
    ("chunk-not-hashed", "transfer/FileCopyCommand.cpp",
     "      pipeline.Submit(digest, buffer, bytesRead);\n", "      pipeline.Release(buffer);\n"),
    ("gathered-piece-dropped", "transfer/FileCopyCommand.cpp",
     "    pipeline.SubmitLast(digest, std::exchange(gathering, nullptr), std::exchange(gathered, 0));",
     "    pipeline.Finish(digest);"),
    # zip
    ("archive-opened-without-callback", "zip/ZipArchive.cpp",
     "Open(state->inStream.get(), nullptr, openCallback.get())", "Open(state->inStream.get(), nullptr, nullptr)"),
    ("hidden-entries-shown", "zip/ZipArchive.cpp",
     "entry.isHidden = (attributes & kHiddenAttribute) != 0;", "entry.isHidden = false;"),
    ("zipcrypto-not-encrypted", "zip/ZipArchive.cpp",
     '{u"AES", u"ZipCrypto", u"StrongCrypto"}', '{u"AES", u"StrongCrypto"}'),
    ("backslash-names-kept", "zip/EntryNames.cpp",
     "std::replace(name.begin(), name.end(), '\\\\', '/');", "std::replace(name.begin(), name.end(), '\\0', '/');"),
    ("own-stop-taken-for-failure", "zip/engine/SequentialOutStreams.cpp",
     "  stoppedWhenFull = true;\n", ""),
    ("encrypted-item-tried", "zip/ZipArchive.cpp",
     "  if (ItemReader(state, nullptr).IsEncrypted(state.selectedIndex)) {", "  if (false) {"),
    ("old-engine-accepted", "zip/engine/SevenZipEngine.cpp",
     "return known && convention == kConventionWithoutVirtualDestructor;", "return true;"),
    ("crc-error-misnamed", "zip/engine/ArchiveExtractCallback.cpp",
     '"extract failed: CRC error\\n"', '"extract failed: data error\\n"'),
    ("refused-unicode-field-taken", "zip/EntryNames.cpp",
     'hasMark(marks, u"up") && !hasMark(marks, u"Extra_ERROR")', 'hasMark(marks, u"up")'),
    ("dos-names-read-as-utf8", "zip/EntryNames.cpp",
     "if (!madeOnDos && platform::isValidUtf8(bytes)) return bytes;", "if (platform::isValidUtf8(bytes)) return bytes;"),
    ("undecodable-name-replaced", "zip/EntryNames.cpp",
     "  return bytes;  // not text in the code page: kept as it stands", "  return \"?\";"),
    ("engine-names-kept", "zip/EntryNames.cpp",
     "if (engineName.path.empty() || engineReadText(engineName)) {", "if (true) {"),
    ("write-failure-not-an-extraction-failure", "zip/ZipFileCopyCommand.cpp",
     "WriteInPipeline(file, kExtractFailed);", "WriteInPipeline(file, \"\");"),
    ("last-chunk-hashed-before-queued-ones", "transfer/DigestPipeline.cpp",
     "if (inBackground && (digest->queued || size > kLargestDoneHere)) {", "if (inBackground && size > kLargestDoneHere) {"),
    ("blocks-kept-on-reading-again", "job/InputFile.cpp", "    held.clear();\n", ""),
    ("large-job-kept-whole", "job/InputFile.cpp", "    if (whole.size() > kBlocksHeld) {", "    if (false) {"),
    ("seek-origins-swapped", "zip/engine/FileInStream.cpp",
     "platform::SeekOrigin::Begin, platform::SeekOrigin::Current, platform::SeekOrigin::End};",
     "platform::SeekOrigin::Begin, platform::SeekOrigin::End, platform::SeekOrigin::Current};"),
    # modes
    ("missing-file-reported", "modes/TestFileExistence.cpp",
     "if (status.type != platform::FileType::RegularFile) return true;",
     "if (status.type == platform::FileType::Missing) return true;"),
    ("unexaminable-file-taken-for-missing", "modes/TestFileExistence.cpp",
     "GetLastErrorMessage(error) << \"\\n\";\n      return false;", "GetLastErrorMessage(error) << \"\\n\";\n      return true;"),
    ("existence-run-short", "modes/TestFileExistence.cpp",
     "std::min(first + kRecordsPerRun, rowCount)", "std::min(first + kRecordsPerRun - 1, rowCount)"),
    ("unexaminable-entry-skipped", "modes/ListFiles.cpp",
     "GetLastErrorMessage(entry.statusError) << \"\\n\";\n      return false;",
     "GetLastErrorMessage(entry.statusError) << \"\\n\";\n      continue;"),
    ("forging-name-listed", "modes/ModeSupport.cpp",
     'name.find_first_of("\\t\\r\\n")', 'name.find_first_of("\\r")'),
    ("name-may-leave-base", "base/PathUtil.cpp",
     'if (name.substr(start, end - start) == u"..") return false;', ""),
    ("uuid-not-checked", "store/StorageLayout.cpp", "  if (!namesAFile(uuid)) {", "  if (false) {"),
    ("damaged-entry-accepted", "zip/ZipFileCopyCommand.cpp", "  if (verdict != kOperationOk) return false;\n", ""),
    ("fifo-listed", "modes/ListFiles.cpp",
     "entry.type == platform::FileType::RegularFile && !entry.hidden",
     "entry.type != platform::FileType::Directory && !entry.hidden"),
    ("zip-directories-listed", "modes/ListZipEntry.cpp",
     "return !entry.isDirectory && !entry.isHidden;", "return !entry.isHidden;"),
    ("empty-message-makes-error-file", "base/Logger.cpp",
     "  if (text.empty()) return;  // no message: no error file\n", ""),
    ("held-messages-lost", "modes/WorkInOrder.h",
     "      Logger::GetInstance() << slot.messages;\n", ""),
    ("later-record-messages-shown", "modes/WorkInOrder.h",
     "      const HeldMessages held(slot.messages);\n", ""),
    ("result-line-blank", "modes/ModeSupport.cpp",
     'line.push_back(\'\\t\');\n  return line;', 'line.push_back(\' \');\n  return line;'),
    ("zip-store-message-blank", "modes/ExtractFromZipToResourceStore.cpp",
     '"createDirectoryRecursively failed for"', '"createDirectoryRecursively failed for "'),
    ("copy-out-failure-line", "modes/BatchCopyFromResourceStore.cpp",
     'reportCopyFailure("File Copy failed"', 'reportCopyFailure("file copy failed"'),
    ("columns-swapped", "modes/BatchCopyToResourceStore.cpp",
     '  if (fromMultipleDirectories) job.AddColumn("dir_name");\n  job.AddColumn("file_name");',
     '  job.AddColumn("file_name");\n  if (fromMultipleDirectories) job.AddColumn("dir_name");'),
    # app
    ("mode-prefix-accepted", "modes/ModeTable.cpp",
     "  return i == given.size();", "  return true;"),
    ("failure-lines-swapped", "modes/ModeTable.cpp",
     '"ExecuteListZipEntryWithFirstBlock failed\\n"', '"ExecuteListZipEntry failed\\n"'),
    ("failure-exit-code", "app/Application.cpp",
     "return succeeded ? 0 : 2;", "return succeeded ? 0 : 1;"),
    ("result-file-name-never-synced", "app/Application.cpp",
     " && !platform::syncDirectory(directoryOfFile(outputFilePath))", ""),
    ("unwritten-result-succeeds", "app/Application.cpp",
     "  if (!written || !closed) {", "  if (!closed) {"),
]


def run(command, log, timeout=None):
    with open(log, "a") as out:
        return subprocess.call(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                               timeout=timeout)


def build(log):
    return run(["cmake", "--build", BUILD, "-j2"], log) == 0


def killers(log, cost_guards=False):
    """The tests that fail (a hang counts as a failure), by name."""
    failed = []
    try:
        output = subprocess.run(["ctest", "--test-dir", BUILD, "-j2", "--timeout", "90"], cwd=ROOT,
                                capture_output=True, text=True, timeout=3600).stdout
    except subprocess.TimeoutExpired:
        return ["(the suite timed out)"]
    with open(log, "a") as out:
        out.write(output)
    listing = output.split("The following tests FAILED:", 1)
    if len(listing) == 2:
        for line in listing[1].splitlines():
            if " - " in line:
                failed.append(line.split(" - ", 1)[1].split(" (")[0].split("  #")[0].strip())
    if cost_guards:
        guards = subprocess.run(["tests/cost/run.sh"], cwd=ROOT, capture_output=True, text=True,
                                env={**os.environ, "RAZADEDEZUZEV_PROGRAM": os.path.join(BUILD, "razadedezuzev")})
        over = guards.stdout.split("over their bound:", 1)
        if len(over) == 2:
            failed += [f"cost guard {line.strip()}" for line in over[1].splitlines() if line.strip()]
        elif guards.returncode != 0:
            failed.append("cost guards (failed to run)")
    return failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--only", nargs="*", help="run only these mutants")
    parser.add_argument("--report", default=os.path.join(BUILD, "mutants.txt"))
    parser.add_argument("--cost-guards", action="store_true", help="run the cost guards too")
    args = parser.parse_args()
    mutants = [m for m in MUTANTS if not args.only or m[0] in args.only]
    if args.list:
        for name, path, _, _ in mutants:
            print(f"{name:36} src/{path}")
        return 0

    os.makedirs(BUILD, exist_ok=True)
    log = os.path.join(BUILD, "mutants.log")
    open(log, "w").close()
    if run(["cmake", "-S", ROOT, "-B", BUILD, "-DRAZADEDEZUZEV_TESTS=ON"], log) != 0 or not build(log):
        sys.exit("the unmutated tree does not build; see " + log)
    if killers(log, args.cost_guards):
        sys.exit("the suite fails without any mutant; see " + log)

    results = []
    for name, path, original, mutated in mutants:
        source = os.path.join(ROOT, "src", path)
        text = open(source).read()
        if text.count(original) != 1:
            results.append((name, path, "stale", []))
            continue
        started = time.time()
        try:
            with open(source, "w") as out:
                out.write(text.replace(original, mutated))
            failing = []
            if not build(log):
                verdict = "invalid"
            else:
                failing = killers(log, args.cost_guards)
                verdict = "killed" if failing else "survived"
        finally:
            with open(source, "w") as out:
                out.write(text)
        results.append((name, path, verdict, failing))
        print(f"{verdict:8} {name:36} src/{path}  ({time.time() - started:.0f} s, {len(failing)} killers)",
              flush=True)
    build(log)  # leave the build matching the restored sources

    counts = {v: sum(1 for r in results if r[2] == v) for v in ("killed", "survived", "invalid", "stale")}
    valid = counts["killed"] + counts["survived"]
    summary = f"killed {counts['killed']} of {valid} mutants"
    summary += f" (invalid {counts['invalid']}, stale {counts['stale']})"
    with open(args.report, "w") as out:
        for name, path, verdict, failing in results:
            out.write(f"{verdict:8} {name:36} src/{path}\n")
            out.writelines(f"           killed by {test}\n" for test in failing)
        # The tests that alone kill some mutant cannot be cut.
        sole = sorted({r[3][0] for r in results if len(r[3]) == 1})
        out.write("sole killers: " + (", ".join(sole) or "none") + "\n")
        out.write(summary + "\n")
    print(summary)
    return 0 if counts["survived"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
