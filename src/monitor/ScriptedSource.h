#pragma once
// A change source driven by its caller: tests feed it notifications and the
// program sees them exactly as it would see a kernel-backed source's.
#include "monitor/ChangeSource.h"

#include <memory>

namespace vantrel {

class ScriptedSource final : public ChangeSource {
 public:
  const char* Name() const override { return "scripted"; }
  bool Start(std::string&) override {
    started_ = true;
    return true;
  }
  void Stop() override { started_ = false; }
  void SetRoots(std::vector<std::string> roots) override { roots_ = std::move(roots); }

  void Inject(std::vector<ChangeNotification> batch) { queue_.Push(batch); }
  void Tell(SourceReport report) { queue_.Report(std::move(report)); }
  bool Started() const { return started_; }
  const std::vector<std::string>& Roots() const { return roots_; }

 private:
  bool started_ = false;
  std::vector<std::string> roots_;
};

// A change-source factory (the engine's SourceFactory) that makes a started
// scripted source and says where it is.
inline auto ScriptedSourceFactory(ScriptedSource*& made) {
  return [&made](const std::vector<std::string>&, std::string& error) -> std::unique_ptr<ChangeSource> {
    auto source = std::make_unique<ScriptedSource>();
    made = source.get();
    source->Start(error);
    return source;
  };
}

}  // namespace vantrel
