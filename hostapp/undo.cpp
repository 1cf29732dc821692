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

}  // namespace

bool ControlState::operator==(const ControlState& other) const {
  if (value != other.value || value2 != other.value2 || keys.size() != other.keys.size())
    return false;
  for (size_t i = 0; i < keys.size(); ++i)
    if (keys[i].time != other.keys[i].time || keys[i].value != other.keys[i].value) return false;
  return true;
}

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
  if (done_.empty()) return false;
  Restore(store, done_.back().before);
  undone_.push_back(std::move(done_.back()));
  done_.pop_back();
  return true;
}

bool UndoHistory::Redo(ControlStore* store) {
  if (undone_.empty()) return false;
  Restore(store, undone_.back().after);
  done_.push_back(std::move(undone_.back()));
  undone_.pop_back();
  return true;
}

}  // namespace vhost
