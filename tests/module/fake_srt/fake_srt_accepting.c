/* Stands in for an SRT library that accepts every start-up call. */
static int startups;
static int cleanups;

int srt_startup(void) { ++startups; return 0; }
int srt_cleanup(void) { ++cleanups; return 0; }
int fake_srt_startup_calls(void) { return startups; }
int fake_srt_cleanup_calls(void) { return cleanups; }
