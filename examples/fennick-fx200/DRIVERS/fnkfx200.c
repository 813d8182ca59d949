/* FnkNet driver for the FX-200 couplers (sample build). The installer
   copies the library; its registration entry points report success. */
int DllRegisterServer(void) { return 0; }
int DllUnregisterServer(void) { return 0; }
int FnkNetOpen(int address) { return address > 0 && address < 64 ? 0 : -1; }
