cd /build/relaycast
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" tests/entry_controller_host_test --gtest_filter='*ExitWithThree*' > /tmp/out.txt 2>&1 &
sleep 6
for p in $(pgrep -f entry_controller_host_test); do
  for t in /proc/$p/task/*; do echo "$(basename $t) $(cat $t/comm) :: $(cat $t/syscall 2>&1)"; done
  ls -l /proc/$p/fd | grep socket
done
cat /proc/net/tcp | head -20
wait
tail -30 /tmp/out.txt
