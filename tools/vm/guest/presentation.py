"""The demo inside the guest: the example controller runs the agent on hci0,
and the command-line watch on hci1 drives a short presentation through it.
Every line of both is shown as it comes, labelled by who wrote it."""

import asyncio
import sys

WATCH_COMMANDS = ["start", "next", "next", "black", "black", "previous", "end"]


async def _relay(stream, label, show, seen=None):
    async for raw in stream:
        text = raw.decode(errors="replace").rstrip("\n")
        show(f"{label}{text}" if label else text)
        if seen is not None:
            seen.append(text)


async def presentation(rig):
    show = rig.mark
    tools = rig.tools
    controller = await asyncio.create_subprocess_exec(
        sys.executable, str(tools / "example-controller"), "--agent", str(rig.agent_binary),
        stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.STDOUT)
    controller_lines = []
    relay = asyncio.create_task(_relay(controller.stdout, "", show, controller_lines))
    while not any('"state":"advertising"' in line for line in controller_lines):
        if relay.done():
            raise AssertionError("the example controller stopped before the agent advertised")
        await asyncio.sleep(0.1)

    show(f"{'watch (hci1)':<19}| orbilatch-watch --adapter hci1 --interval 1.5 {' '.join(WATCH_COMMANDS)}")
    watch = await asyncio.create_subprocess_exec(
        sys.executable, "-W", "ignore", str(tools / "orbilatch-watch"), "--adapter", "hci1",
        "--interval", "1.5", "--id", "1", *WATCH_COMMANDS,
        stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.STDOUT)
    await _relay(watch.stdout, f"{'watch (hci1)':<19}| ", show)
    watch_status = await watch.wait()

    await asyncio.sleep(1.0)
    controller.terminate()  # the controller asks the agent to shut down
    await asyncio.wait_for(relay, 30)
    controller_status = await controller.wait()
    assert watch_status == 0, f"the watch exited with status {watch_status}"
    assert controller_status == 0, f"the controller exited with status {controller_status}"
