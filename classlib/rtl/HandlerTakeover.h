// Taking over another object's event handler and giving it back, whatever order things die in.
//
// A component that watches another object (a form's OnActivate, a dataset's AfterScroll) saves
// the handler it finds, installs its own, and calls the saved one from it.  When several do so in
// turn, they form a chain: the last installed runs first.  std::function values cannot be
// compared, so a component cannot tell whether the handler now installed is still its own; this
// token can.  The installed functor shares {owner's handler or nothing, previous handler} with
// the token:
//
//   Release, when the installed handler is this token's functor: the target gets the previous
//            handler back.
//   Release, when someone installed another handler over ours: ours cannot be removed from the
//            chain, so it becomes a pass-through to the previous handler (it forgets the owner).
//
// Either way no handler is lost and no call reaches a dead owner.  The token's destructor does
// the pass-through part on its own, so an owner that dies without Release is safe too.
//
// Example:  token_.Install(form->OnActivate(), [this](TObject* s) { Activated(s); });
//           form->SetOnActivate(token_.Handler());
//           ... at the end:  form->SetOnActivate(token_.Release(form->OnActivate()));
// and Activated calls token_.CallPrevious(s) where the previous handler should run.
#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace cl {

template <class Event>
class THandlerTakeover;

template <class R, class... Args>
class THandlerTakeover<std::function<R(Args...)>> {
 public:
  using Event = std::function<R(Args...)>;

  THandlerTakeover() = default;
  ~THandlerTakeover() { Forget(); }
  THandlerTakeover(const THandlerTakeover&) = delete;
  THandlerTakeover& operator=(const THandlerTakeover&) = delete;

  // Remembers `previous` (the target's current handler, maybe empty) and `own`.  A token that
  // was installed before forgets that installation first (it becomes a pass-through).
  void Install(Event previous, Event own) {
    Forget();
    state_ = std::make_shared<State>();
    state_->previous = std::move(previous);
    state_->own = std::move(own);
  }

  // The functor to put on the target.  REQUIRES: Install was called.
  Event Handler() const { return Thunk{state_}; }

  // Calls the remembered previous handler (a default R when there is none).
  R CallPrevious(Args... args) const {
    if (state_ == nullptr || !state_->previous) return R();
    Event previous = state_->previous;
    return previous(std::forward<Args>(args)...);
  }

  // True when `current` is this token's installed functor.
  bool IsOurs(const Event& current) const {
    const Thunk* thunk = current.template target<Thunk>();
    return state_ != nullptr && thunk != nullptr && thunk->state == state_;
  }

  // Gives the target back: returns what its handler must become, given what it is now.
  Event Release(const Event& current) {
    if (state_ == nullptr) return current;
    Event result = IsOurs(current) ? state_->previous : current;
    Forget();
    return result;
  }

 private:
  struct State {
    Event own;       // empty once the owner let go
    Event previous;  // always kept: later links of the chain may still call through us
  };

  struct Thunk {
    std::shared_ptr<State> state;
    R operator()(Args... args) const {
      // Copies: the handler may release the token or replace itself while it runs.
      Event call = state->own ? state->own : state->previous;
      if (!call) return R();
      return call(std::forward<Args>(args)...);
    }
  };

  void Forget() {
    if (state_ != nullptr) state_->own = nullptr;
    state_.reset();
  }

  std::shared_ptr<State> state_;
};

}  // namespace cl
