// The user's undo history over the controls: each step is what one action changed (a value set
// in the panel, a keyframe added, a button's undo group), kept as the changed controls' state
// before and after, so that Undo and Redo put back exactly what the step replaced.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "hostapp/controls.h"

namespace vhost {

// What an undo step keeps of one control: its constant value and keyframes.
struct ControlState {
  double value = 0;
  double value2 = 0;
  std::vector<Keyframe> keys;
  bool operator==(const ControlState&) const = default;
};

struct UndoStep {
  std::string name;
  std::vector<std::pair<int, ControlState>> before;  // control index, state
  std::vector<std::pair<int, ControlState>> after;
};

class UndoHistory {
 public:
  // Every control's state now, to compare with after an action.
  static std::vector<ControlState> Capture(const ControlStore& store);

  // Records what changed between `before` and the store now as one step named `name`, and
  // forgets the steps undone before it. Records nothing and returns false when nothing changed.
  bool Record(std::string name, const std::vector<ControlState>& before, const ControlStore& store);

  // Puts the controls of the newest step back as they were before it (Undo) or after it
  // (Redo); false when there is no step to walk to.
  bool Undo(ControlStore* store);
  bool Redo(ControlStore* store);

  bool can_undo() const { return !done_.empty(); }
  bool can_redo() const { return !undone_.empty(); }
  // The name of the step Undo or Redo would walk; empty when there is none.
  std::string undo_name() const { return done_.empty() ? "" : done_.back().name; }
  std::string redo_name() const { return undone_.empty() ? "" : undone_.back().name; }

 private:
  std::vector<UndoStep> done_;
  std::vector<UndoStep> undone_;
};

}  // namespace vhost
