#!/bin/sh
# Stage 2, PID 1 of the guest: the booted root is read-only, so everything
# that must be written lives on tmpfs. Runs the guest runner, then powers off
# (PID 1 must never exit: the kernel would panic).
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8 PYTHONDONTWRITEBYTECODE=1

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts -o ptmxmode=0666 devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
for dir in /tmp /var/tmp /var/lib/bluetooth; do
    mount -t tmpfs tmpfs "$dir"
done

echo "orbilatch-stage2: up at $(cut -d' ' -f1 /proc/uptime) s"
/usr/bin/python3 /run/orbilatch/src/tools/vm/guest/runner.py /run/orbilatch/out
echo "orbilatch-stage2: runner exited with status $?"
sync
echo o > /proc/sysrq-trigger
while :; do sleep 1; done
