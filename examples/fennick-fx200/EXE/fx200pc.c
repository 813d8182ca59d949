/* Code generation for the FX-200 couplers (sample build): the I/O image
   size Korvane reserves for a coupler with the given channel counts. */
int FnkPCodeImageSize(int inputs, int outputs) {
  if (inputs < 0 || outputs < 0 || inputs > 256 || outputs > 256) return -1;
  return (inputs + 7) / 8 + (outputs + 7) / 8;
}
