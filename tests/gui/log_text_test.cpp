// LogText beside a plain FXText of the same size, options and font: every sequence of log
// operations leaves both in the same state, field by field, after every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "app/log_text.h"
#include "gui_support.h"

const char* const guiProgramName = "log_text_test";

namespace {

constexpr FXuint logOptions = TEXT_READONLY | TEXT_SHOWACTIVE | TEXT_AUTOSCROLL | LAYOUT_FIX_WIDTH | LAYOUT_FIX_HEIGHT;
constexpr FXint viewWidth = 420;
constexpr FXint viewHeight = 180;

// Everything FXText keeps about its text, rows, view, cursor and ranges, as one comparable text.
template <typename Base>
class Probe : public Base {
public:
  explicit Probe(FXComposite* p) : Base(p, nullptr, 0, logOptions, 0, 0, viewWidth, viewHeight) {}

  std::string state() const {
    const long fields[] = {this->length, this->nrows, this->toprow, this->toppos, this->keeppos, this->nvisrows,
                           this->cursorpos, this->cursorstart, this->cursorend, this->cursorrow, this->cursorcol,
                           this->prefcol, this->selstartpos, this->selendpos, this->hilitestartpos,
                           this->hiliteendpos, this->anchorpos, this->textWidth, this->textHeight, this->pos_x,
                           this->pos_y, this->viewport_h};
    std::string out = "length nrows toprow toppos keeppos nvisrows cursor(pos start end row col) prefcol "
                      "sel(start end) hilite(start end) anchor textWidth textHeight pos(x y) viewportH:";
    for (long value : fields) out += " " + std::to_string(value);
    out += "; visrows:";
    for (FXint i = 0; i <= this->nvisrows; ++i) out += " " + std::to_string(this->visrows[i]);
    return out;
  }

  // The selection as replace() sees it, without taking the display's selection from the other
  // text of the pair.
  void selectQuietly(FXint start, FXint end) {
    this->selstartpos = start;
    this->selendpos = end;
  }

  FXint gap() const { return this->gapend - this->gapstart; }
  // The window x of the boundary before pos.
  FXint xOf(FXint pos) const {
    const FXint start = this->lineStart(pos);
    return this->pos_x + this->marginleft + this->barwidth + this->lineWidth(start, pos - start);
  }
  // Where the widget keeps its gap is its own business, but changes must come out the same
  // wherever it is.
  void moveGap(FXint pos) { this->movegap(pos); }

  std::string styles() const {
    std::string out;
    if (!this->isStyled()) return out;
    for (FXint i = 0; i < this->getLength(); ++i) out += static_cast<char>('0' + this->getStyle(i));
    return out;
  }
};

enum class Op { append, insertAt, replaceAt, removeAt, scrollEnd, scrollToRow, cursorAt, select, anchorAt, gapAt, unstyle };

struct Step {
  Op op;
  std::string text;  // appended or put in place of what goes
  FXint at = 0;      // position, see resolve()
  FXint count = 0;   // characters removed or selected, see count()
  int style = 0;
};

Step append(const std::string& text, int style = 2) { return {Op::append, text, 0, 0, style}; }
Step scrollEnd() { return {Op::scrollEnd, "", 0, 0, 0}; }

// count lines "prefix NNNN 0x01 ...\n", one append each, the view scrolled after every every-th.
std::vector<Step> lines(const char* prefix, int count, int every) {
  std::vector<Step> steps;
  for (int i = 0; i < count; ++i) {
    char line[80];
    std::snprintf(line, sizeof line, "%s %04d 0x01 0x02 0x03 0x04 0x05 0x06\n", prefix, i);
    steps.push_back(append(line, i % 2 == 0 ? 0 : 2));
    if (every > 0 && i % every == every - 1) steps.push_back(scrollEnd());
  }
  return steps;
}

std::vector<Step> join(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Sequence {
  const char* name;
  std::vector<Step> steps;
};

std::string bigBatch(int lineCount) {
  std::string text;
  for (int i = 0; i < lineCount; ++i) text += "12:00:00:   <<< Incoming Received 30 bytes, message with CField 0x44.\n";
  return text;
}

const std::vector<Sequence>& sequences() {
  static const std::vector<Sequence> all = {
      {"lines into an empty log, scrolled every fifth", lines("line", 60, 5)},
      {"lines never scrolled", lines("quiet", 40, 0)},
      {"a line left open and completed later",
       {append("Dongle ID: 0x01"), append("\n<<< next\n"), append("12:00:00:   ", 0), append("text\n"), scrollEnd(),
        append("open"), append(" still open"), scrollEnd(), append("\n")}},
      {"tabs and control characters",
       {append("a\tb\tc\n"), append("\x01\x02 control\n"), append("x\ty"), append("\tz\n"), scrollEnd()}},
      {"multi-byte characters", {append("Gr\xC3\xBC\xC3\x9F" "e\n"), append("\xE2\x82\xAC 5"), append(" more\n"), scrollEnd()}},
      {"one batch taller than the view, then held scrolls",
       join({{append(bigBatch(300)), scrollEnd()}, lines("held", 30, 10), {append(bigBatch(50)), scrollEnd()}})},
      {"front drops behind a notice, as the bound does",
       join({lines("old", 80, 8),
             {{Op::replaceAt, "--- earlier lines dropped ---\n", 0, 900, 0}, append("after drop\n"), scrollEnd()},
             lines("mid", 20, 4),
             {{Op::removeAt, "", 30, 700, 0}, append("after second drop\n")},
             lines("new", 20, 0),
             {scrollEnd()}})},
      {"the cursor put elsewhere, then back at the end",
       join({lines("a", 20, 5),
             {{Op::cursorAt, "", 7, 0, 0}, append("while inside\n"), scrollEnd(), {Op::cursorAt, "", -3, 0, 0},
              append("x"), {Op::cursorAt, "", -1, 0, 0}, append("at the end again\n")},
             lines("b", 10, 3)})},
      {"a selection and the anchor at the end",
       join({lines("s", 12, 4),
             {{Op::select, "", -11, 10, 0}, append("after selection\n"), {Op::select, "", -1, 0, 0}, append("more\n"),
              {Op::select, "", 3, 20, 0}, append("after a selection at the top\n"),
              {Op::anchorAt, "", -1, 0, 0}, append("after the anchor\n"), scrollEnd()}})},
      {"an unstyled log", join({{{Op::unstyle, "", 0, 0, 0}}, lines("plain", 30, 6)})},
      {"changes inside the view and above it",
       join({lines("v", 40, 10),
             {{Op::insertAt, "inserted\ntwo lines\n", -200, 0, 1},
              {Op::gapAt, "", 30, 0, 0},
              {Op::insertAt, "no break", -120, 0, 0},
              {Op::gapAt, "", -100, 0, 0},
              {Op::removeAt, "", -300, 150, 0},
              {Op::replaceAt, "one\ntwo\nthree\n", -260, 40, 2},
              {Op::replaceAt, "\tshort", 100, 300, 0},
              {Op::gapAt, "", 120, 0, 0},
              {Op::removeAt, "", -30, 29, 0},
              append("tail\n"), scrollEnd(),
              {Op::removeAt, "", 0, 50, 0},
              {Op::insertAt, "Gr\xC3\xBC\xC3\x9F" "e\n", 10, 0, 0},
              {Op::replaceAt, "\xE2\x82\xAC", -20, 5, 0}}})},
      {"removals that take the cursor, the selection and the anchor with them",
       join({lines("c", 30, 10),
             {{Op::cursorAt, "", 400, 0, 0}, {Op::select, "", 380, 60, 0}, {Op::anchorAt, "", 390, 0, 0},
              {Op::removeAt, "", 350, 100, 0},
              {Op::cursorAt, "", 500, 0, 0}, {Op::select, "", 450, 100, 0}, {Op::anchorAt, "", 520, 0, 0},
              {Op::replaceAt, "replaced\nrows\n", 480, 200, 2},
              {Op::select, "", 100, 30, 0}, {Op::gapAt, "", 115, 0, 0}, {Op::removeAt, "", 110, 10, 0},
              {Op::select, "", 100, 30, 0}, {Op::replaceAt, "xx", 90, 20, 0},
              append("end\n"), scrollEnd()}})},
      {"scrolled up by hand, then the log follows its end again",
       join({lines("u", 120, 30),
             {append(std::string(200, 'w') + "\n"), {Op::scrollToRow, "", 0, 0, 0}},
             lines("while up", 10, 0),
             {scrollEnd(), {Op::scrollToRow, "", 60, 0, 0}, {Op::scrollToRow, "", 64, 0, 0}, {Op::scrollToRow, "", 58, 0, 0},
              scrollEnd(), {Op::scrollToRow, "", 20, 0, 0}, {Op::scrollToRow, "", 125, 0, 0},
              {Op::scrollToRow, "", 125, 60, 0}, scrollEnd(), {Op::scrollToRow, "", 2, 30, 0}},
             lines("far", 200, 0),
             {scrollEnd()}})},
      {"everything removed, then written again",
       join({lines("all", 25, 5), {{Op::removeAt, "", 0, -1, 0}}, lines("again", 10, 5), {{Op::gapAt, "", 0, 0, 0}},
             lines("more", 15, 5),
             {{Op::removeAt, "", -40, 39, 0}, {Op::replaceAt, "", 0, -1, 0}}, lines("last", 5, 2)})},
  };
  return all;
}

// A step's position: -1 is the end, -2 the character before it, and so on.
FXint resolve(FXint at, FXint length) { return at < 0 ? length + 1 + at : at; }
// A step's count of characters: -1 for all from its position to the end.
FXint count(const Step& step, FXint length) { return step.count < 0 ? length - resolve(step.at, length) : step.count; }

template <typename Text>
void apply(Text* text, const Step& step) {
  const FXint length = text->getLength();
  switch (step.op) {
    case Op::append:
      text->appendStyledText(step.text.data(), static_cast<FXint>(step.text.size()), step.style, FALSE);
      break;
    case Op::insertAt:
      text->insertStyledText(resolve(step.at, length), step.text.data(), static_cast<FXint>(step.text.size()),
                             step.style, FALSE);
      break;
    case Op::replaceAt:
      text->replaceStyledText(resolve(step.at, length), count(step, length), step.text.data(),
                              static_cast<FXint>(step.text.size()), step.style, FALSE);
      break;
    case Op::removeAt:
      text->removeText(resolve(step.at, length), count(step, length), FALSE);
      break;
    case Op::scrollEnd:
      // What the log does after a batch, against what FXText does for it.
      if constexpr (std::is_base_of_v<LogText, Text>) {
        text->showLastLine();
      } else {
        text->makePositionVisible(text->lineStart(length));
      }
      break;
    case Op::scrollToRow:  // count: pixels scrolled right
      text->setPosition(-step.count, -step.at * text->getFont()->getFontHeight());
      break;
    case Op::cursorAt:
      text->setCursorPos(resolve(step.at, length), FALSE);
      break;
    case Op::select:
      text->selectQuietly(resolve(step.at, length), resolve(step.at, length) + step.count);
      break;
    case Op::gapAt:
      text->moveGap(resolve(step.at, length));
      break;
    case Op::anchorAt:
      text->setAnchorPos(resolve(step.at, length));
      break;
    case Op::unstyle:
      text->setStyled(FALSE);
      break;
  }
}

class LogTextTest : public ::testing::TestWithParam<size_t> {};

TEST_P(LogTextTest, LeavesTheStateAPlainTextWouldAfterEveryStep) {
  const Sequence& sequence = sequences()[GetParam()];
  Shell& s = shell();
  FXMainWindow* window = new FXMainWindow(s.app, "log text pair", nullptr, nullptr, DECOR_ALL, 0, 0, 900, 220);
  FXHorizontalFrame* frame = new FXHorizontalFrame(window, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  auto* plain = new Probe<FXText>(frame);
  auto* log = new Probe<LogText>(frame);
  for (FXText* text : {static_cast<FXText*>(plain), static_cast<FXText*>(log)}) {
    text->setStyled(TRUE);
    text->setFont(probe(s.window).logFont());
  }
  window->create();
  window->show();
  pump();
  ASSERT_GT(plain->getViewportHeight(), 0);
  ASSERT_EQ(plain->state(), log->state());

  for (size_t i = 0; i < sequence.steps.size(); ++i) {
    apply(plain, sequence.steps[i]);
    apply(log, sequence.steps[i]);
    ASSERT_EQ(plain->state(), log->state()) << sequence.name << ", step " << i;
  }
  EXPECT_EQ(str(plain->getText()), str(log->getText())) << sequence.name;
  EXPECT_EQ(plain->styles(), log->styles()) << sequence.name;
  // Painting and the layout that follows it change nothing either.
  pump();
  EXPECT_EQ(plain->state(), log->state()) << sequence.name;
  delete window;
  pump();
}

// Appends at the end leave room for the next ones instead of growing both buffers each time.
TEST(LogText, AppendsLeaveRoomForMore) {
  Shell& s = shell();
  FXMainWindow* window = new FXMainWindow(s.app, "log text", nullptr, nullptr, DECOR_ALL, 0, 0, 500, 220);
  auto* log = new Probe<LogText>(window);
  log->setStyled(TRUE);
  window->create();
  const std::string line = "12:00:00:   <<< Incoming Received 30 bytes, message with CField 0x44.\n";
  // The widget starts with a small gap; the first append that outgrows it widens it.
  for (int i = 0; i < 3; ++i) log->appendStyledText(line.data(), static_cast<FXint>(line.size()), 2, FALSE);
  const FXint room = log->gap();
  EXPECT_GE(room, 32 * 1024);
  for (int i = 0; i < 100; ++i) log->appendStyledText(line.data(), static_cast<FXint>(line.size()), 2, FALSE);
  EXPECT_EQ(log->gap(), room - 100 * static_cast<FXint>(line.size()));
  delete window;
}

// The widget's pixels as the X server holds them.
std::vector<FXColor> pixels(FXWindow* widget) {
  const FXint w = widget->getWidth();
  const FXint h = widget->getHeight();
  FXImage image(widget->getApp(), nullptr, IMAGE_KEEP | IMAGE_OWNED, w, h);
  image.create();
  {
    FXDCWindow dc(&image);
    dc.drawArea(widget, 0, 0, w, h, 0, 0);
  }
  image.restore();
  return std::vector<FXColor>(image.getData(), image.getData() + static_cast<size_t>(w) * static_cast<size_t>(h));
}

// Appends held between follows leave the screen as it was, and each follow paints what the same
// text painted afresh shows: no stale row or column, whatever the scroll. (A log that follows every append
// is the reference only once repainted: FXText's own scrolls copy glyphs overhanging the right
// margin along.)
TEST(LogText, HeldAppendsPaintAtTheFollowWhatAFreshPaintShows) {
  Shell& s = shell();
  FXMainWindow* window = new FXMainWindow(s.app, "log text held", nullptr, nullptr, DECOR_ALL, 0, 0, 900, 220);
  FXHorizontalFrame* frame = new FXHorizontalFrame(window, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  auto* eager = new Probe<LogText>(frame);
  auto* held = new Probe<LogText>(frame);
  // Two styles as the log's: their own colours, no lines, the background plain.
  static const FXHiliteStyle styles[2] = {
      {FXRGB(0, 0, 0), FXRGB(255, 255, 255), FXRGB(255, 0, 0), FXRGB(128, 0, 0), 0, 0, 0, 0},
      {FXRGB(0, 0, 255), FXRGB(255, 255, 255), FXRGB(0, 0, 255), FXRGB(0, 0, 128), 0, 0, 0, 0},
  };
  for (LogText* text : {eager, held}) {
    text->setStyled(TRUE);
    text->setHiliteStyles(styles, 2);
    text->setFont(probe(s.window).logFont());
  }
  window->create();
  window->show();
  pump();
  // Lines narrower than the view, so that scrolls move only the columns they take; one wider
  // line on the way.
  const std::string frameText = "12:00:00:   <<< Incoming\n0x44 0x8F 0x19 0x78\n<<< FW version:  01.02\n";
  const std::string wider = "0x44 0x8F 0x19 0x78 0x56 0x34 0x12 0x01 0x36\n";
  int follows = 0;
  for (int i = 0; i < 60; ++i) {
    // Appends in every pattern: a frame, a line left open, a front drop as the bound does.
    std::string add = i % 7 == 3 ? "open " : frameText;
    if (i % 11 == 10) add = "\n" + add;
    if (i == 30) add = wider;
    const bool followNow = i % 4 == 0 || i % 9 == 0;
    const std::vector<FXColor> before = pixels(held);
    const FXint rangeBefore = held->verticalScrollBar()->getRange();
    if (!followNow) held->holdRepaints();
    // A line's first characters in one style and the rest in another, as a timestamp and its text.
    std::string styleBytes(add.size(), static_cast<char>(1 + i % 2));
    styleBytes.replace(0, std::min<size_t>(4, add.size()), std::min<size_t>(4, add.size()), 2 - i % 2);
    for (Probe<LogText>* text : {eager, held}) {
      if (i == 40) text->removeText(0, 500, FALSE);
      text->appendStyled(add.data(), styleBytes.data(), static_cast<FXint>(add.size()));
    }
    eager->follow();
    if (followNow) held->follow();
    // A scroll bar shown by the follow is painted on its expose, one round trip later.
    pump();
    s.app->flush(TRUE);
    pump();
    if (!followNow) {
      EXPECT_EQ(pixels(held), before) << "held append " << i;
      // In view or below it: the scroll bars wait for the follow too.
      EXPECT_EQ(held->verticalScrollBar()->getRange(), rangeBefore) << "held append " << i;
      continue;
    }
    EXPECT_EQ(held->verticalScrollBar()->getRange(), eager->verticalScrollBar()->getRange()) << "follow after append " << i;
    EXPECT_EQ(held->styles(), eager->styles()) << "follow after append " << i;
    ++follows;
    // The reference: the eager log painted afresh, as an expose would.
    eager->update();
    pump();
    ASSERT_EQ(eager->state(), held->state()) << "follow after append " << i;
    ASSERT_EQ(pixels(eager), pixels(held)) << "follow after append " << i;
  }
  EXPECT_GT(follows, 15);
  delete window;
  pump();
}

// The log paints its rows as FXText does, though a row's spaces go with its words instead of a
// fill request each: styles of their own colours, an underlined one, a selection, the active row,
// tabs, control characters, runs of spaces and a trailing one.
TEST(LogText, PaintsWhatAPlainTextPaints) {
  Shell& s = shell();
  FXMainWindow* window = new FXMainWindow(s.app, "log text paint", nullptr, nullptr, DECOR_ALL, 0, 0, 900, 220);
  FXHorizontalFrame* frame = new FXHorizontalFrame(window, LAYOUT_FILL_X | LAYOUT_FILL_Y);
  auto* plain = new Probe<FXText>(frame);
  auto* log = new Probe<LogText>(frame);
  static const FXHiliteStyle styles[3] = {
      {FXRGB(0, 0, 0), FXRGB(255, 255, 255), FXRGB(255, 0, 0), FXRGB(128, 0, 0), 0, 0, 0, 0},
      {FXRGB(200, 0, 0), FXRGB(255, 255, 255), FXRGB(0, 0, 255), FXRGB(0, 0, 128), 0, 0, 0, 0},
      {FXRGB(0, 90, 0), FXRGB(230, 230, 160), FXRGB(0, 0, 255), FXRGB(0, 0, 128), 0, 0, FXRGB(250, 240, 200),
       FXText::STYLE_UNDERLINE},
  };
  const std::string text =
      "00:13:27:   <<< Incoming Received 30 bytes, message with CField 0x44.\n"
      "0x44 0x8F 0x19 0x78 0x56 0x34 0x12 0x01 0x36 0x7A 0xE6\n"
      "<<< FW version:  01.02   \n"
      "a\tb  \x01 c    d\n"
      "  two leading, one trailing \n";
  std::string styleBytes(text.size(), 2);
  for (size_t i = 0; i < 12; ++i) styleBytes[i] = 1;
  for (size_t i = text.find("<<< FW"); i < text.find("01.02"); ++i) styleBytes[i] = 3;
  styleBytes[text.find("two")] = 0;
  for (FXText* t : {static_cast<FXText*>(plain), static_cast<FXText*>(log)}) {
    t->setStyled(TRUE);
    t->setFont(probe(s.window).logFont());
  }
  plain->setHiliteStyles(styles);
  log->setHiliteStyles(styles, 3);
  window->create();
  window->show();
  plain->setStyledText(text.data(), static_cast<FXint>(text.size()), 2, FALSE);
  plain->changeStyle(0, styleBytes.data(), static_cast<FXint>(styleBytes.size()));
  log->appendStyled(text.data(), styleBytes.data(), static_cast<FXint>(text.size()));
  plain->selectQuietly(20, 80);
  log->selectQuietly(20, 80);
  plain->setCursorPos(static_cast<FXint>(text.find("two")), FALSE);
  log->setCursorPos(static_cast<FXint>(text.find("two")), FALSE);
  // Mapped and exposed one round trip after show(); then painted afresh.
  pump();
  s.app->flush(TRUE);
  pump();
  plain->update();
  log->update();
  plain->repaint();
  log->repaint();
  ASSERT_EQ(plain->getWidth(), log->getWidth());
  EXPECT_EQ(plain->styles(), log->styles());
  // FXText fills a space after drawing the word before it, which cuts off that word's last glyph
  // where it overhangs into the space ('W' by a column in the log's font); the log draws the
  // space with its word and keeps the glyph whole. Every other pixel is the same.
  const std::vector<FXColor> expected = pixels(plain);
  const std::vector<FXColor> painted = pixels(log);
  ASSERT_EQ(expected.size(), painted.size());
  const FXint w = plain->getWidth();
  size_t differing = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] == painted[i]) continue;
    ++differing;
    const FXint x = static_cast<FXint>(i % static_cast<size_t>(w));
    const FXint y = static_cast<FXint>(i / static_cast<size_t>(w));
    const FXint pos = log->getPosAt(x, y);
    // The nearest character boundary; the pixel lies right of it, in the cell of the space.
    const bool spaceAfterGlyph = pos > 0 && log->getByte(pos) == ' ' && log->getByte(pos - 1) != ' ' &&
                                 log->getByte(pos - 1) != '\t' && x >= log->xOf(pos);
    EXPECT_TRUE(spaceAfterGlyph) << "pixel " << x << "," << y << " at '" << static_cast<char>(log->getByte(pos))
                                 << "' (position " << pos << ")";
  }
  EXPECT_LT(differing, 20u);
  delete window;
  pump();
}

INSTANTIATE_TEST_SUITE_P(Sequences, LogTextTest, ::testing::Range<size_t>(0, sequences().size()),
                         [](const ::testing::TestParamInfo<size_t>& param) { return std::to_string(param.param); });

}  // namespace
