/* An SRT library that accepts the first 250 start-up calls and refuses after that. */
static int startups;
static int cleanups;

int srt_startup(void) { return ++startups <= 250 ? 1 : -1; }
int srt_cleanup(void) { ++cleanups; return 0; }
int fake_srt_startup_calls(void) { return startups; }
int fake_srt_cleanup_calls(void) { return cleanups; }
