#pragma once
// Whole file systems through fanotify in this process: every local file
// system is marked, so every change anywhere is seen, like a registration on
// the root of the namespace. Only for a process that may see everything
// anyway (root); an ordinary user's program reads the watch helper instead.
#include "monitor/linux/KernelSource.h"
#include "monitor/linux/FanotifyReader.h"

namespace vantrel {

class FanotifySource final : public KernelSource, private FanotifyReader::Sink {
 public:
  ~FanotifySource() override { Stop(); }
  const char* Name() const override { return "fanotify"; }
  // The thread that copies the kernel's events counts as the reader's.
  double ReaderCpuSeconds() const override { return KernelSource::ReaderCpuSeconds() + reader_.DrainCpuSeconds(); }

 private:
  bool Open(std::string& error) override;
  int KernelFd() const override { return reader_.Fd(); }
  void ReadKernel(std::int64_t now) override;
  void OnRootsChanged(const std::vector<std::string>& roots) override { TellRootsOutOfSight(roots); }
  void OnMountsChanged(const std::vector<std::string>& added, const std::vector<std::string>& removed) override;
  std::optional<std::int64_t> NextDeadline() override;
  void OnTick(std::int64_t now) override;
  void Close() override { reader_.Close(); }

  void Change(const RawChange& change, std::int64_t now) override;
  void Report(const SourceReport& report) override { ReportProblem(report); }
  void TooLong(std::string_view folder, const std::string& ancestor) override;

  FanotifyReader reader_{*this};
};

}  // namespace vantrel
