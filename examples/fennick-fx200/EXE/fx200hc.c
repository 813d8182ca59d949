/* Hardware configuration for the FX-200 couplers (sample build): checks a
   FnkNet station address and a watchdog time before Korvane accepts them. */
int FnkHConfigCheck(int address, int watchdog_ms) {
  if (address < 1 || address > 63) return 1;
  if (watchdog_ms < 10 || watchdog_ms > 10000) return 2;
  return 0;
}
