#include "pipeline/au_converter.h"

#include "pipeline/au_exception.h"

void TAuConverter::SetInput(TAuInput* Value) {
  if (Value == this) return;
  std::lock_guard lock(DataLock);
  if (Busy) {
    if (FInput) FInput->Flush();
    if (Value) Value->Init();
  }
  if (FInput) RemoveFreeNotification(FInput);
  FInput = Value;
  if (FInput) FInput->FreeNotification(this);
}

int TAuConverter::GetBitsPerSample() {
  if (!FInput) return 0;
  const int bits = FInput->BitsPerSample();
  return FormatFlag ? bits : (bits & ~128);
}

int TAuConverter::GetChannels() { return FInput ? FInput->Channels() : 0; }

int TAuConverter::GetSampleRate() { return FInput ? FInput->SampleRate() : 0; }

void TAuConverter::GetData(void*& Buffer, uint32_t& Bytes) {
  std::lock_guard lock(DataLock);
  if (ServeFromPrefetch(Buffer, Bytes)) return;
  if (EndOfStream) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  GetDataInternal(Buffer, Bytes);
  Position += Bytes;
  const int64_t size = Size;
  if (size > 0 && Position > size) {
    const int64_t excess = Position - size;
    Bytes = excess >= Bytes ? 0 : Bytes - static_cast<uint32_t>(excess);
    EndOfStream = true;
  }
  if (Bytes == 0) EndOfStream = true;
}

void TAuConverter::PauseInput() {
  if (FInput) FInput->PauseInput();
}

void TAuConverter::ResumeInput() {
  if (FInput) FInput->ResumeInput();
}

void TAuConverter::Prefetch(uint32_t Bytes) {
  if (FInput) FInput->Prefetch(Bytes);
}

void TAuConverter::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == TOperation::opRemove && AComponent == FInput) {
    std::lock_guard lock(DataLock);
    FInput = nullptr;
  }
}

void TAuConverter::CheckInput() const {
  if (!FInput) throw EAuException(kMsgInputNotAssigned);
}
