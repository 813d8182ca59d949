// The Telvor reached through COM (Windows): the server class
// {4F2A9C31-7B6E-11D4-9C2E-7A3E15C0D2B8} created with CoCreateInstance and
// started with OleRun, and its three interfaces called by their slots in
// the method tables, texts as BSTR in the ANSI code page.
#ifndef KESTRIN_CONNECTIONS_COM_TELVOR_H_
#define KESTRIN_CONNECTIONS_COM_TELVOR_H_

#include "host/telvor.h"

namespace kestrin {

class ComTelvorServerClass : public ITelvorServerClass {
 public:
  // Enters a single-threaded apartment on this thread (CoInitialize) for as
  // long as the object lives.
  ComTelvorServerClass();
  ~ComTelvorServerClass() override;
  ComTelvorServerClass(const ComTelvorServerClass&) = delete;
  ComTelvorServerClass& operator=(const ComTelvorServerClass&) = delete;

  // CoCreateInstance with class context 0x17, asking for IUnknown. A class
  // that is not registered answers REGDB_E_CLASSNOTREG.
  HRESULT CreateInstance(TelvorObject* object) override;
  // OleRun.
  HRESULT Run(const TelvorObject& object) override;

 private:
  bool initialised_ = false;
};

}  // namespace kestrin

#endif  // KESTRIN_CONNECTIONS_COM_TELVOR_H_
