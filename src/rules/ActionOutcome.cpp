#include "rules/ActionOutcome.h"

#include "text/Codec.h"

#include <array>
#include <utility>

namespace vantrel {
namespace {

constexpr std::array<std::pair<Operation, std::string_view>, 4> kWords{{
    {Operation::Copy, "复制文件"},
    {Operation::Move, "移动文件"},
    {Operation::Delete, "删除文件"},
    {Operation::RunProgram, "执行程序"},
}};

}  // namespace

Operation OperationOfWord(std::string_view word) {
  for (const auto& [operation, w] : kWords)
    if (w == word) return operation;
  return Operation::None;
}

std::string_view OperationWord(Operation operation) {
  for (const auto& [op, w] : kWords)
    if (op == operation) return w;
  return {};
}

std::string ActionOutcomeType(const ActionOutcome& outcome) {
  switch (outcome.kind) {
    case ActionOutcome::Kind::Done: return std::string(OperationWord(outcome.operation));
    case ActionOutcome::Kind::Failed: return std::string(OperationWord(outcome.operation)) + "失败";
    case ActionOutcome::Kind::WaitingForWriter: return "等待写入完成";
    case ActionOutcome::Kind::SourceGone: return "文件已删除, 规则未执行";
  }
  return {};
}

std::string ActionOutcomeDetail(const ActionOutcome& outcome) {
  // A failed action still gets its row, saying so and why.
  if (outcome.kind == ActionOutcome::Kind::Failed) return ReadableText(outcome.detail) + " (" + outcome.reason + ")";
  return outcome.detail;
}

std::string ActionOutcomeText(const ActionOutcome& outcome) {
  return ActionOutcomeType(outcome) + "】" + ActionOutcomeDetail(outcome);
}

}  // namespace vantrel
