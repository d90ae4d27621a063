#include "faces/headless/Headless.h"

#include "platform/LogFile.h"
#include "text/Codec.h"

namespace vantrel {

Headless::Headless(Options options) : options_(std::move(options)) {
  PrepareProcess();
  Engine::Options engine;
  engine.home = options_.home;
  engine.backend = options_.backend;
  engine.console = options_.console;
  engine.sourceFactory = options_.sourceFactory;
  engine.rowLimit = kRowLimit;
  engine.clock = options_.clock;
  engine.startNotice = options_.startNotice;
  EngineFace face;
  face.prompt = [this](const std::string& title, const std::string& text, PromptKind kind) { Prompt(title, text, kind); };
  // Nobody to ask: the answer the question offers by default.
  face.ask = [](const std::string&, const std::string&, bool defaultAnswer) { return defaultAnswer; };
  engine_ = std::make_unique<Engine>(std::move(engine), std::move(face));
}

void Headless::Prompt(const std::string& title, const std::string& text, PromptKind kind) {
  // A prompt for every listed change is the window's balloon; here the rows
  // themselves go to the log and the console.
  // A failed action's record is already on the console.
  if (kind == PromptKind::Event || kind == PromptKind::ActionFailed) return;
  const std::string line = OneLineText(title + " " + text);
  platform::WriteConsoleRecord(2, "vantrel-headless: " + line + "\n", kind == PromptKind::Error ? 2 : 0);
  platform::WriteSystemLog(line, kind == PromptKind::Error);
}

bool Headless::Start(std::string& error) {
  platform::OpenSystemLog("vantrel-headless");
  if (!engine_->StartSource(error)) return false;
  engine_->Start();
  return true;
}

void Headless::Turn() {
  while (engine_->Work()) {
  }
}

void Headless::Stop() { engine_->Stop(); }

}  // namespace vantrel
