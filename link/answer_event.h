// The converter's answers as typed events: what a session makes of the bytes that arrived, and
// whether an event settles the request awaited.
#pragma once
#include <cstddef>
#include <cstdint>

#include "codec/answer_wait.h"

enum class AnswerKind : uint8_t {
  identity,      // the converter named itself (a REQ_UD2 answer)
  slotRecord,    // a Get Data answer taken into the slot's fields
  optionBits,    // the option bits answer taken
  scanEntries,   // the Scan answer taken
  acknowledged,  // the converter accepted a request that gets no other answer (wired E5 or status frame)
  counter,       // over the air: a frame of the partner carrying its counter (a beacon or an acknowledgement)
  refused,       // the stick refused a frame (NACK); it names no request
  garbled,       // a reply that could not be read (bad checksum, an answer whose record was refused)
};

struct AnswerEvent {
  AnswerKind kind = AnswerKind::garbled;
  uint8_t command = 0;     // the command code the answer names (slotRecord, optionBits, scanEntries)
  int slot = -1;           // slotRecord: the slot it fills
  uint32_t counter = 0;    // counter: the value its counter record holds
  bool endsWait = false;   // the converter's reply, whatever it says: the wait ends with it (by wire
                           // one converter answers each request once; over the air only an answer does)
};

// Receives each event a session makes, in arrival order.
class AnswerEventSink {
public:
  virtual ~AnswerEventSink() = default;
  virtual void onAnswerEvent(const AnswerEvent& event) = 0;
};

// Whether the event is the answer to the request awaited (slot: the slot a Get Data asked for).
// Over the air Set Data and write option bits get no answer of their own: the converter takes the
// request's counter as its own once it accepted the request, and every frame it sends afterwards
// carries it. So only a partner frame whose counter is exactly the one this request carried
// acknowledges it; a counter below it means not taken, one above it counts from elsewhere (a
// converter counting on its own, a later request), and neither proves this request was taken.
bool answersRequest(const AnswerWait& wait, int slot, const AnswerEvent& event);

// Settles the request awaited from the events: the one that answers it clears the wait and marks
// it answered; a reply that answers something else clears it unanswered. ConverterLink holds one
// and both sessions report to it.
class AnswerMatcher : public AnswerEventSink {
public:
  AnswerWait* wait = nullptr;  // the request awaited; nullptr for none
  int slot = -1;               // the slot a Get Data asked for
  bool answered = false;       // an event answered the request since start()
  bool refused = false;        // the stick refused a frame meanwhile

  // A request was sent: nothing has answered it yet.
  void start(int requestSlot) {
    slot = requestSlot;
    answered = false;
    refused = false;
  }
  void onAnswerEvent(const AnswerEvent& event) override;
};

// The event for a converter command answer (payload from 0F 35 on); taken: the parser accepted it.
AnswerEvent commandAnswerEvent(const uint8_t* payload, size_t length, bool taken);
