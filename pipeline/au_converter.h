#pragma once

#include "pipeline/au_input.h"
#include "platform/messages.h"

// A source fed by another source. Format queries pass through to Input;
// bits per sample loses its bit 7 (value 128) unless this converter's own
// FormatFlag is set, so an upstream flag in that bit reaches only a converter
// that asked for it.
class TAuConverter : public TAuInput {
 public:
  explicit TAuConverter(TComponent* AOwner = nullptr) : TAuInput(AOwner) {}

  // Assigning the converter to itself is ignored; while Busy the old input is
  // flushed and the new one initialised (a live swap).
  virtual void SetInput(TAuInput* Value);
  TAuInput* Input() const { return FInput; }

  int GetBitsPerSample() override;
  int GetChannels() override;
  int GetSampleRate() override;
  void GetData(void*& Buffer, uint32_t& Bytes) override;
  void PauseInput() override;
  void ResumeInput() override;
  void Prefetch(uint32_t Bytes) override;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Raises "Input is not assigned" when there is no input.
  void CheckInput() const;

  TAuInput* FInput = nullptr;
};
