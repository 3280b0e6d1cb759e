#include "LineLeads.h"

#include "Unicode.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

bool TLineLeads::Contains(char32_t Code) const {
  const auto After = std::upper_bound(Ranges.begin(), Ranges.end(), Code,
                                      [](char32_t Wanted, const auto& Range) { return Wanted < Range.first; });
  return After != Ranges.begin() && Code <= std::prev(After)->second;
}

namespace {

// The pattern is read into a tree of what each part can consume, then walked with the states a match
// can be in: not yet at the line's start (Loose), at it with nothing but spaces consumed (Spaces), or
// past the first other character (Past). Whatever the reading does not follow ends it: TUnknown.
struct TUnknown {};

using TRanges = std::vector<std::pair<char32_t, char32_t>>;

// Characters one item consumes; Any: every one.
struct TCharacters {
  TRanges Ranges;
  bool Any = false;

  void Add(char32_t First, char32_t Last) { Ranges.emplace_back(First, Last); }
  void Add(const TCharacters& Other) {
    Any = Any || Other.Any;
    Ranges.insert(Ranges.end(), Other.Ranges.begin(), Other.Ranges.end());
  }
};

constexpr char32_t MaxCode = 0x10FFFF;

std::size_t SpacesIn(char32_t First, char32_t Last) {
  std::size_t Count = 0;
  for (const char32_t Space : {U' ', U'\t', char32_t{0x3000}}) Count += First <= Space && Space <= Last;
  return Count;
}

bool HasSpace(const TCharacters& Set) {
  return Set.Any || std::any_of(Set.Ranges.begin(), Set.Ranges.end(),
                                [](const auto& Range) { return SpacesIn(Range.first, Range.second) > 0; });
}

bool HasOther(const TCharacters& Set) {
  return Set.Any || std::any_of(Set.Ranges.begin(), Set.Ranges.end(), [](const auto& Range) {
           return Range.second - Range.first + 1 > SpacesIn(Range.first, Range.second);
         });
}

// Where a caseless match may take another character for one of these: ASCII and full-width Latin
// letters (and the Kelvin sign and long s that fold with k and s); none of the blocks below holds a
// letter with cases. Anything else: TUnknown.
void AddOtherCases(TCharacters& Set) {
  if (Set.Any) return;
  static const std::pair<char32_t, char32_t> Caseless[] = {
      {0x00, 0x40},       {0x5B, 0x60},     {0x7B, 0xB4},     {0xB6, 0xBF},     {0x1680, 0x1680},
      {0x180E, 0x180E},   {0x2000, 0x206F}, {0x2190, 0x245F},
      {0x2500, 0x2BFF},   {0x2E80, 0xA63F}, {0xAC00, 0xD7FF}, {0xF900, 0xFAFF}, {0xFE30, 0xFE4F},
      {0xFF00, 0xFF20},   {0xFF3B, 0xFF40}, {0xFF5B, 0xFFFF}, {0x20000, 0x3FFFF}};
  const TRanges Ranges = Set.Ranges;
  for (const auto& [First, Last] : Ranges)
    for (char32_t Code = First; Code <= Last; ++Code) {
      if ((Code >= 'A' && Code <= 'Z') || (Code >= 'a' && Code <= 'z')) {
        const char32_t Upper = Code & ~char32_t{0x20};
        Set.Add(Upper, Upper);
        Set.Add(Upper | 0x20, Upper | 0x20);
        if (Upper == 'K') Set.Add(0x212A, 0x212A);
        if (Upper == 'S') Set.Add(0x17F, 0x17F);
      } else if ((Code >= 0xFF21 && Code <= 0xFF3A) || (Code >= 0xFF41 && Code <= 0xFF5A)) {
        Set.Add(Code >= 0xFF41 ? Code - 0x20 : Code + 0x20, Code >= 0xFF41 ? Code - 0x20 : Code + 0x20);
      } else {
        const auto Zone = std::find_if(std::begin(Caseless), std::end(Caseless),
                                       [&](const auto& Range) { return Range.first <= Code && Code <= Range.second; });
        if (Zone == std::end(Caseless)) throw TUnknown{};
        Code = std::min(Last, Zone->second);  // the rest of the zone needs no look
      }
      if (Code == Last) break;
    }
}

// ---- The tree -----------------------------------------------------------------------------------------

struct TNode {
  enum TKind { Characters, Anchor, Assertion, Group, Repeat } Kind = Assertion;
  TCharacters Set;                                         // Characters
  std::vector<std::vector<std::unique_ptr<TNode>>> Branches;  // Group: its alternatives
  std::unique_ptr<TNode> Body;                             // Repeat, Min to Max times
  std::uint32_t Min = 0, Max = 0;
};
using TNodePtr = std::unique_ptr<TNode>;

TNodePtr MakeNode(TNode::TKind Kind) {
  auto Node = std::make_unique<TNode>();
  Node->Kind = Kind;
  return Node;
}

TNodePtr MakeCharacters(TCharacters Set) {
  TNodePtr Node = MakeNode(TNode::Characters);
  Node->Set = std::move(Set);
  return Node;
}

TCharacters One(char32_t Code) {
  TCharacters Set;
  Set.Add(Code, Code);
  return Set;
}

TCharacters AnyCharacter() {
  TCharacters Set;
  Set.Any = true;
  return Set;
}

// PCRE2 syntax, as far as patterns of headings go.
class TReader {
public:
  TReader(std::string_view Pattern, bool Caseless) : FText(Pattern), FCaseless(Caseless) {}

  TNodePtr Whole() {
    TNodePtr Node = Alternatives();
    if (FPos != FText.size()) throw TUnknown{};
    return Node;
  }

private:
  bool AtEnd() const { return FPos >= FText.size(); }
  char Peek(std::size_t Ahead = 0) const { return FPos + Ahead < FText.size() ? FText[FPos + Ahead] : '\0'; }
  bool Take(std::string_view Text) {
    if (FText.substr(FPos, Text.size()) != Text) return false;
    FPos += Text.size();
    return true;
  }

  char32_t Character() {
    const TUtf8Sequence Character = ReadUtf8(FText.substr(FPos));
    if (!Character.Valid || Character.Cut) throw TUnknown{};
    FPos += Character.Length;
    return Character.Code;
  }

  // Alternatives up to a closing parenthesis or the end; an option set inside holds to the group's end.
  TNodePtr Alternatives() {
    const bool Caseless = FCaseless;
    TNodePtr Group = MakeNode(TNode::Group);
    Group->Branches.emplace_back();
    while (!AtEnd() && Peek() != ')') {
      if (Take("|")) {
        Group->Branches.emplace_back();
        continue;
      }
      TNodePtr Item = Atom();
      if (Item) Group->Branches.back().push_back(Quantified(std::move(Item)));
    }
    FCaseless = Caseless;
    return Group;
  }

  TNodePtr Quantified(TNodePtr Item) {
    std::uint32_t Min = 0, Max = std::numeric_limits<std::uint32_t>::max();
    if (Take("*")) {
    } else if (Take("+")) {
      Min = 1;
    } else if (Take("?")) {
      Max = 1;
    } else if (Peek() == '{') {
      ++FPos;
      Min = Number();
      Max = Min;
      if (Take(",")) Max = Peek() == '}' ? std::numeric_limits<std::uint32_t>::max() : Number();
      if (!Take("}")) throw TUnknown{};
    } else {
      return Item;
    }
    if (!Take("?")) Take("+");  // lazy or possessive: the same characters
    TNodePtr Node = MakeNode(TNode::Repeat);
    Node->Body = std::move(Item);
    Node->Min = Min;
    Node->Max = Max;
    return Node;
  }

  std::uint32_t Number() {
    const std::size_t Start = FPos;
    std::uint32_t Value = 0;
    while (Peek() >= '0' && Peek() <= '9' && FPos - Start < 6) Value = Value * 10 + static_cast<std::uint32_t>(FText[FPos++] - '0');
    if (FPos == Start) throw TUnknown{};
    return Value;
  }

  // One item, or none for an option setting or a comment.
  TNodePtr Atom() {
    const char Next = Peek();
    if (Next == '(') return Parenthesis();
    if (Next == '[') return MakeCharacters(Class());
    if (Take(".")) return MakeCharacters(AnyCharacter());
    if (Take("^")) return MakeNode(TNode::Anchor);
    if (Take("$")) return MakeNode(TNode::Assertion);
    if (Next == '\\') return Escape();
    if (Next == '*' || Next == '+' || Next == '?' || Next == '{' || Next == '|' || Next == ')') throw TUnknown{};
    return Literal(Character());
  }

  TNodePtr Literal(char32_t Code) {
    TCharacters Set = One(Code);
    if (FCaseless) AddOtherCases(Set);
    return MakeCharacters(std::move(Set));
  }

  TNodePtr Parenthesis() {
    ++FPos;
    if (Peek() == '*') throw TUnknown{};  // verbs and alpha assertions
    if (Take("?#")) {
      while (!AtEnd() && Peek() != ')') ++FPos;
      if (!Take(")")) throw TUnknown{};
      return nullptr;
    }
    bool Assertion = false;
    if (Take("?=") || Take("?!") || Take("?<=") || Take("?<!")) {
      Assertion = true;
    } else if (Take("?:") || Take("?|") || Take("?>")) {
    } else if (Take("?<") || Take("?P<") || Take("?'")) {
      while (std::isalnum(static_cast<unsigned char>(Peek())) || Peek() == '_') ++FPos;
      if (!Take(">") && !Take("'")) throw TUnknown{};
    } else if (Take("?")) {
      // Options: (?i) for the rest of the group, (?i:…) for its own. Unsetting is passed over, so a
      // part matched in either case is read as caseless: more leads, never fewer.
      bool Unset = false;
      for (;; ++FPos) {
        const char Option = Peek();
        if (Option == '-') Unset = true;
        else if (Option == 'i' && !Unset) FCaseless = true;
        else if (Option == 'x' && !Unset) throw TUnknown{};
        else if (Option != 'i' && Option != 'x' && Option != 'm' && Option != 'n' && Option != 's' && Option != 'J' &&
                 Option != 'U' && Option != '^')
          break;
      }
      if (Take(")")) return nullptr;
      if (!Take(":")) throw TUnknown{};
    }
    TNodePtr Group = Alternatives();
    if (!Take(")")) throw TUnknown{};
    return Assertion ? MakeNode(TNode::Assertion) : std::move(Group);
  }

  TCharacters Class() {
    ++FPos;
    const bool Negated = Take("^");
    TCharacters Set;
    bool First = true;
    while (First || Peek() != ']') {
      if (AtEnd()) throw TUnknown{};
      if (Peek() == '[' && (Peek(1) == ':' || Peek(1) == '.' || Peek(1) == '=')) throw TUnknown{};
      First = false;
      const TCharacters Item = ClassItem();
      if (Peek() == '-' && Peek(1) != ']' && Peek(1) != '\0') {
        ++FPos;
        const TCharacters Last = ClassItem();
        if (Item.Any || Last.Any || Item.Ranges.size() != 1 || Last.Ranges.size() != 1 ||
            Item.Ranges[0].first != Item.Ranges[0].second || Last.Ranges[0].first != Last.Ranges[0].second ||
            Last.Ranges[0].first < Item.Ranges[0].first)
          throw TUnknown{};
        Set.Add(Item.Ranges[0].first, Last.Ranges[0].first);
      } else {
        Set.Add(Item);
      }
    }
    ++FPos;
    if (Negated) return AnyCharacter();
    if (FCaseless) AddOtherCases(Set);
    return Set;
  }

  TCharacters ClassItem() {
    if (Peek() != '\\') return One(Character());
    ++FPos;
    if (Take("b")) return One(8);
    if (const std::optional<TCharacters> Set = Shorthand()) return *Set;
    return One(EscapedCharacter());
  }

  // \d, \w, \s, \h as ASCII (and Unicode's horizontal spaces) sets; the others as any character.
  std::optional<TCharacters> Shorthand() {
    TCharacters Set;
    switch (Peek()) {
    case 'd': Set.Add('0', '9'); break;
    case 'w': Set.Add('0', '9'), Set.Add('A', 'Z'), Set.Add('a', 'z'), Set.Add('_', '_'); break;
    case 's': Set.Add('\t', '\r'), Set.Add(' ', ' '); break;
    case 'h':
      for (const auto& [First, Last] : {std::pair<char32_t, char32_t>{'\t', '\t'}, {' ', ' '}, {0xA0, 0xA0}, {0x1680, 0x1680},
                                        {0x180E, 0x180E}, {0x2000, 0x200A}, {0x202F, 0x202F}, {0x205F, 0x205F}, {0x3000, 0x3000}})
        Set.Add(First, Last);
      break;
    case 'p': case 'P':
      ++FPos;
      if (Take("{")) {
        while (!AtEnd() && Peek() != '}') ++FPos;
        if (!Take("}")) throw TUnknown{};
      } else {
        Character();
      }
      return AnyCharacter();
    case 'D': case 'W': case 'S': case 'H': case 'v': case 'V': case 'X': case 'R': case 'C': ++FPos; return AnyCharacter();
    case 'N':
      if (Peek(1) == '{') throw TUnknown{};
      ++FPos;
      return AnyCharacter();
    default: return std::nullopt;
    }
    ++FPos;
    return Set;
  }

  // A character written with a backslash: \t, \x{3000}, \. and the like.
  char32_t EscapedCharacter() {
    if (AtEnd()) throw TUnknown{};
    const char Letter = FText[FPos];
    if (Letter == 'x') {
      ++FPos;
      std::string Digits;
      const bool Braced = Take("{");
      while (std::isxdigit(static_cast<unsigned char>(Peek())) && (Braced || Digits.size() < 2)) Digits += FText[FPos++];
      if (Braced && (!Take("}") || Digits.empty() || Digits.size() > 6)) throw TUnknown{};
      const char32_t Code = Digits.empty() ? 0 : static_cast<char32_t>(std::stoul(Digits, nullptr, 16));
      if (Code > MaxCode) throw TUnknown{};
      return Code;
    }
    const std::string_view Simple = "a\ae\x1b" "f\fn\nr\rt\t";
    for (std::size_t At = 0; At < Simple.size(); At += 2)
      if (Simple[At] == Letter) {
        ++FPos;
        return static_cast<unsigned char>(Simple[At + 1]);
      }
    // A letter or digit not named above has a meaning of its own (a backreference, \Q, \c…).
    if (std::isalnum(static_cast<unsigned char>(Letter))) throw TUnknown{};
    return Character();
  }

  TNodePtr Escape() {
    ++FPos;
    if (Take("A") || Take("G")) return MakeNode(TNode::Anchor);
    if (Take("b") || Take("B") || Take("z") || Take("Z") || Take("K")) return MakeNode(TNode::Assertion);
    if (Take("E")) return nullptr;
    if (const std::optional<TCharacters> Set = Shorthand()) return MakeCharacters(*Set);
    return Literal(EscapedCharacter());
  }

  std::string_view FText;
  std::size_t FPos = 0;
  bool FCaseless;
};

// ---- The walk -----------------------------------------------------------------------------------------

using TStates = unsigned;
constexpr TStates Loose = 1, Spaces = 2, Past = 4;

class TWalk {
public:
  TStates Walk(const TNode& Node, TStates In) {
    switch (Node.Kind) {
    case TNode::Characters: {
      TStates Out = In & Past;
      if (In & Loose) throw TUnknown{};  // a match that may begin anywhere on the line
      if (In & Spaces) {
        if (Node.Set.Any) throw TUnknown{};
        Leads.Add(Node.Set);
        if (HasOther(Node.Set)) Out |= Past;
        if (HasSpace(Node.Set)) Out |= Spaces;
      }
      return Out;
    }
    case TNode::Anchor: return (In & (Loose | Spaces) ? Spaces : 0) | (In & Past);
    case TNode::Assertion: return In;
    case TNode::Group: {
      TStates Out = 0;
      for (const std::vector<TNodePtr>& Branch : Node.Branches) {
        TStates States = In;
        for (const TNodePtr& Item : Branch) States = Walk(*Item, States);
        Out |= States;
      }
      return Out;
    }
    case TNode::Repeat: {
      // The states after each repeat settle within a few: there are three, and none leads back.
      TStates Out = Node.Min == 0 ? In : 0, States = In;
      for (std::uint32_t Count = 1; Count <= Node.Max; ++Count) {
        const TStates Next = Walk(*Node.Body, States);
        if (Next == States) {
          Out |= States;
          break;
        }
        States = Next;
        if (Count >= Node.Min) Out |= States;
        if (Count > 8) throw TUnknown{};
      }
      return Out;
    }
    }
    return In;
  }

  TCharacters Leads;
};

}  // namespace

std::optional<TLineLeads> LineLeadsOf(std::string_view Pattern, bool Caseless) {
  try {
    const TNodePtr Tree = TReader(Pattern, Caseless).Whole();
    TWalk Walk;
    // A match that may end before the line's first other character tells nothing of it.
    if (Walk.Walk(*Tree, Loose) != Past) return std::nullopt;
    TRanges Ranges = std::move(Walk.Leads.Ranges);
    std::sort(Ranges.begin(), Ranges.end());
    TLineLeads Leads;
    for (const auto& Range : Ranges) {
      if (!Leads.Ranges.empty() && Range.first <= Leads.Ranges.back().second + 1)
        Leads.Ranges.back().second = std::max(Leads.Ranges.back().second, Range.second);
      else
        Leads.Ranges.push_back(Range);
    }
    return Leads;
  } catch (const TUnknown&) {
    return std::nullopt;
  }
}
