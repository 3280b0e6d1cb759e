#pragma once

// What the viewer needs of the scroll bar beside the text: four whole-number values, and one
// promise. Every assignment keeps Position within [Min, Max]; an assignment that leaves Position
// different from before notifies the bar's owner at once, before it returns, whoever made it; one
// that leaves Position where it was notifies nothing; PageSize never notifies. The commands rely on
// that order: they assign the bar last, and the nested scroll jump sees their state up to date.
class TViewerScrollBar {
public:
  virtual int Min() const = 0;
  virtual int Max() const = 0;
  virtual int Position() const = 0;
  virtual int PageSize() const = 0;
  virtual void SetMin(int Value) = 0;
  virtual void SetMax(int Value) = 0;
  virtual void SetPosition(int Value) = 0;
  virtual void SetPageSize(int Value) = 0;

protected:
  ~TViewerScrollBar() = default;
};
