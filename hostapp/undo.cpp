#include "hostapp/undo.h"

namespace vhost {

namespace {

ControlState StateOf(const Control& c) {
  return {c.value, c.value2, c.keys};
}

void Restore(ControlStore* store, const std::vector<std::pair<int, ControlState>>& states) {
  for (const auto& [index, state] : states) {
    if (!store->valid(index)) continue;
    Control& c = store->at(index);
    c.value = state.value;
    c.value2 = state.value2;
    c.keys = state.keys;
  }
}

// Puts the controls of the newest step of `from` back to its `side` and moves the step to `to`.
bool Walk(std::vector<UndoStep>& from, std::vector<UndoStep>& to,
          std::vector<std::pair<int, ControlState>> UndoStep::*side, ControlStore* store) {
  if (from.empty()) return false;
  Restore(store, from.back().*side);
  to.push_back(std::move(from.back()));
  from.pop_back();
  return true;
}

}  // namespace

std::vector<ControlState> UndoHistory::Capture(const ControlStore& store) {
  std::vector<ControlState> states;
  states.reserve(store.size());
  for (int i = 0; i < store.size(); ++i) states.push_back(StateOf(store.at(i)));
  return states;
}

bool UndoHistory::Record(std::string name, const std::vector<ControlState>& before,
                         const ControlStore& store) {
  UndoStep step;
  step.name = std::move(name);
  for (int i = 0; i < store.size() && i < static_cast<int>(before.size()); ++i) {
    ControlState now = StateOf(store.at(i));
    if (now == before[i]) continue;
    step.before.emplace_back(i, before[i]);
    step.after.emplace_back(i, std::move(now));
  }
  if (step.before.empty()) return false;
  done_.push_back(std::move(step));
  undone_.clear();
  return true;
}

bool UndoHistory::Undo(ControlStore* store) {
  return Walk(done_, undone_, &UndoStep::before, store);
}

bool UndoHistory::Redo(ControlStore* store) {
  return Walk(undone_, done_, &UndoStep::after, store);
}

}  // namespace vhost
