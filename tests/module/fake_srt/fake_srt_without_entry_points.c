/* A library that loads but is not an SRT library. */
int fake_srt_unrelated(void) { return 0; }
