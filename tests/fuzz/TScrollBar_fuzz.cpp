// The scroll bar's value model under random sequences of assignments and user scroll actions,
// against a model of its rules: after every step Min <= Position <= Max and PageSize <= Max, the
// values (Enabled too) and the Qt widget that mirrors them agree with the model, a refused range
// raises and changes nothing, and OnChange fires exactly once for each change of Position, inside
// the assignment, with the new values already stored (also for a change made by a handler inside it).

#include "Exception.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "TScrollBar.h"

#include <QApplication>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <tuple>
#include <vector>

namespace {

using TValues = std::tuple<int, int, int>;  // Min, Max, Position

struct TModel {
  int Min = 0;
  int Max = 100;
  int Position = 0;
  int PageSize = 0;
  std::uint16_t SmallChange = 1;
  std::uint16_t LargeChange = 1;
  bool Enabled = true;
  std::optional<int> NestedPosition;  // what the next OnChange assigns to Position, once
  std::optional<int> ScrollOverride;  // what OnScroll puts in ScrollPos
  std::vector<TValues> Changes;       // what each OnChange should see

  // The common range update; false when the range is refused.
  bool SetParams(int APosition, int AMin, int AMax) {
    if (AMax < AMin || AMax < PageSize) return false;
    APosition = std::clamp(APosition, AMin, AMax);
    Min = AMin;
    Max = AMax;
    if (APosition == Position) return true;
    Position = APosition;
    Enabled = true;  // a moved bar takes input again
    Changes.emplace_back(Min, Max, Position);
    if (NestedPosition) {
      const int Nested = *NestedPosition;
      NestedPosition.reset();
      SetParams(Nested, Min, Max);
    }
    return true;
  }

  void SetPageSize(int Value) {
    if (Value <= Max) PageSize = Value;
  }

  // Where a user's action asks to go, clamped, before OnScroll.
  int ScrollTarget(TScrollCode Code, int TrackPos) const {
    std::int64_t Target = Position;
    switch (Code) {
      case scLineUp: Target -= SmallChange; break;
      case scLineDown: Target += SmallChange; break;
      case scPageUp: Target -= LargeChange; break;
      case scPageDown: Target += LargeChange; break;
      case scPosition:
      case scTrack: Target = TrackPos; break;
      case scTop: Target = Min; break;
      case scBottom: Target = Max; break;
      case scEndScroll: break;
    }
    return static_cast<int>(std::clamp<std::int64_t>(Target, Min, Max));
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int Argc = 1;
  static char Name[] = "TScrollBar_fuzz";
  static char* Argv[] = {Name, nullptr};
  static QApplication App(Argc, Argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TFuzzInput Input(Data, Size);
  TScrollBar Bar;
  TModel Model;
  std::vector<TValues> Seen;
  std::optional<int> NestedForBar;  // the bar's own copy of Model.NestedPosition
  Bar.OnChange = [&](QObject* Sender) {
    FUZZ_REQUIRE(Sender == &Bar);
    Seen.emplace_back(Bar.Min(), Bar.Max(), Bar.Position());
    if (NestedForBar) {
      const int Nested = *NestedForBar;
      NestedForBar.reset();
      Bar.SetPosition(Nested);
    }
  };
  std::optional<int> ExpectedScrollPos;
  Bar.OnScroll = [&](QObject* Sender, TScrollCode, int& ScrollPos) {
    FUZZ_REQUIRE(Sender == &Bar);
    FUZZ_REQUIRE(ExpectedScrollPos && ScrollPos == *ExpectedScrollPos);
    ExpectedScrollPos.reset();
    if (Model.ScrollOverride) ScrollPos = *Model.ScrollOverride;
  };

  for (int Step = 0; Step < 64 && !Input.Empty(); ++Step) {
    const auto Operation = Input.Take<std::uint8_t>() % 10;
    bool Refused = false;
    bool Raised = false;
    try {
      switch (Operation) {
        case 0: {
          const int Value = Input.Number();
          Refused = !Model.SetParams(Model.Position, Value, Model.Max);
          Bar.SetMin(Value);
          break;
        }
        case 1: {
          const int Value = Input.Number();
          Refused = !Model.SetParams(Model.Position, Model.Min, Value);
          Bar.SetMax(Value);
          break;
        }
        case 2: {
          const int Value = Input.Number();
          Refused = !Model.SetParams(Value, Model.Min, Model.Max);
          Bar.SetPosition(Value);
          break;
        }
        case 3: {
          const int Position = Input.Number();
          const int Min = Input.Number();
          const int Max = Input.Number();
          Refused = !Model.SetParams(Position, Min, Max);
          Bar.SetParams(Position, Min, Max);
          break;
        }
        case 4: {
          const int Value = Input.Number();
          Model.SetPageSize(Value);
          Bar.SetPageSize(Value);
          break;
        }
        case 5: {
          const auto Code = static_cast<TScrollCode>(Input.Take<std::uint8_t>() % 9);
          const int TrackPos = Input.Number();
          const int Target = Model.ScrollTarget(Code, TrackPos);
          ExpectedScrollPos = Target;
          Model.SetParams(Model.ScrollOverride.value_or(Target), Model.Min, Model.Max);
          Bar.Scroll(Code, TrackPos);
          FUZZ_REQUIRE(!ExpectedScrollPos);  // OnScroll ran, once
          break;
        }
        case 6:
          Model.SmallChange = Bar.SmallChange = Input.Take<std::uint16_t>();
          Model.LargeChange = Bar.LargeChange = Input.Take<std::uint16_t>();
          break;
        case 7:
          Model.NestedPosition = NestedForBar = Input.Number();
          break;
        case 8:
          if (Input.Take<std::uint8_t>() & 1)
            Model.ScrollOverride = Input.Number();
          else
            Model.ScrollOverride.reset();
          break;
        case 9:
          Model.Enabled = false;
          Bar.setEnabled(false);
          break;
      }
    } catch (const EInvalidOperation& Error) {
      FUZZ_REQUIRE(Error.Message() == "Scrollbar property out of range");
      Raised = true;
    }
    FUZZ_REQUIRE(Raised == Refused);
    FUZZ_REQUIRE(Seen == Model.Changes);
    FUZZ_REQUIRE(NestedForBar == Model.NestedPosition);
    FUZZ_REQUIRE(Bar.Min() == Model.Min && Bar.Max() == Model.Max && Bar.Position() == Model.Position);
    FUZZ_REQUIRE(Bar.PageSize() == Model.PageSize && Bar.isEnabled() == Model.Enabled);
    FUZZ_REQUIRE(Bar.Min() <= Bar.Position() && Bar.Position() <= Bar.Max() && Bar.PageSize() <= Bar.Max());
    // The Qt widget only mirrors the model.
    FUZZ_REQUIRE(Bar.minimum() == Model.Min && Bar.maximum() == Model.Max && Bar.value() == Model.Position);
  }
  return 0;
}
