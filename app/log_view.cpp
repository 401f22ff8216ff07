// The communication log's text widget as the Log the logic writes to.
#include "app/log_view.h"

#include "codec/answer_wait.h"

#include <algorithm>
#include <cstring>

namespace {
// Characters read past the wanted cut while looking for a line start; a longer line is cut inside.
constexpr FXint lineSearchWindow = 4096;
}  // namespace

void LogView::collect(const char* chars, size_t n, int style) {
  pendingText.append(chars, n);
  pendingStyles.append(n, static_cast<char>(style));
  if (batchDepth == 0) flush(false);
}

void LogView::logText(const char* chars, int style) { collect(chars, std::strlen(chars), style); }

void LogView::logTimestamp() {
  const std::string stamp = timestampText();
  collect(stamp.data(), stamp.size(), logStylePlain);
}

void LogView::logHexDump(const uint8_t* bytes, size_t count, int style) {
  const size_t before = pendingText.size();
  appendHexDumpText(pendingText, bytes, count);
  pendingStyles.append(pendingText.size() - before, static_cast<char>(style));
  if (batchDepth == 0) flush(false);
}

bool LogView::atLineStart() {
  if (!pendingText.empty()) return pendingText.back() == '\n';
  const FXint length = text != nullptr ? text->getLength() : 0;
  return length == 0 || text->getByte(length - 1) == '\n';
}

void LogView::clearLog() {
  pendingText.clear();
  pendingStyles.clear();
  noticeShown = 0;
  pace.held = false;
  text->setText(FXString::null, FALSE);
  text->follow();
}

void LogView::endBatch() {
  if (batchDepth > 0 && --batchDepth == 0) flush(true);
}

void LogView::setLimit(size_t chars) {
  limitChars = std::max(chars, logMinimumLimit);
  notice = logDropNotice(limitChars);
}

void LogView::flush(bool fromBatch) {
  if (pendingText.empty() || text == nullptr) return;
  const long long now = answerClockMs();
  const bool followNow = !fromBatch || logPaceChange(pace, now);
  text->holdRepaints();  // the follow repaints what the append changed, now or when due
  keepWithinLimit();
  // One append, its style bytes copied with the text whatever they are.
  text->appendStyled(pendingText.data(), pendingStyles.data(), static_cast<FXint>(pendingText.size()));
  pendingText.clear();
  pendingStyles.clear();
  if (followNow) followEnd(now);
}

void LogView::followIfDue() {
  const long long now = answerClockMs();
  if (logPaceDue(pace, now)) followEnd(now);
}

// Drops the oldest lines, a share of the limit at a time, behind a notice written once.
void LogView::keepWithinLimit() {
  const size_t length = static_cast<size_t>(text->getLength());
  const size_t noticeLength = noticeShown;
  const size_t drop = logDropCount({length, noticeLength, pendingText.size()}, limitChars, notice.size());
  if (drop == 0) return;
  const size_t own = length - noticeLength;
  size_t cut;  // end of what goes from the widget
  if (drop >= own) {
    cut = length;
    const size_t fromPending = lineStartFrom(pendingText.data(), pendingText.size(), drop - own);
    pendingText.erase(0, fromPending);
    pendingStyles.erase(0, fromPending);
  } else {
    // The line break before the cut may lie just before the wanted position: look from there.
    const FXint from = static_cast<FXint>(noticeLength + drop - 1);
    const FXint n = std::min<FXint>(lineSearchWindow, static_cast<FXint>(length) - from);
    std::string window(static_cast<size_t>(n), '\0');
    text->extractText(&window[0], from, n);
    cut = static_cast<size_t>(from) + lineStartFrom(window.data(), window.size(), 1);
  }
  if (noticeShown) {
    text->removeText(static_cast<FXint>(noticeLength), static_cast<FXint>(cut - noticeLength), FALSE);
  } else {
    text->replaceStyledText(0, static_cast<FXint>(cut), notice.data(), static_cast<FXint>(notice.size()),
                            logStylePlain, FALSE);
    noticeShown = notice.size();
  }
}

// The start of the last line in view, as every append has always left it.
void LogView::followEnd(long long nowMs) {
  text->follow();
  logPaceShown(pace, nowMs);
}
