"""The agent's event lines and the controller's messages as Python values,
for the tests, the benchmarks and whoever drives the agent from Python."""


def state_event(state, message=None):
    event = {"type": "ble_state_changed", "state": state}
    if message is not None:
        event["message"] = message
    return event


ADVERTISING = state_event("advertising")
CONNECTED = state_event("connected")
DISCONNECTED = state_event("disconnected")
POWERED_OFF = state_event("powered_off")
RESETTING = state_event("disconnected", "Bluetooth manager resetting")
UNKNOWN = state_event("unavailable", "Bluetooth state unknown")
UNSUPPORTED = state_event("unavailable", "Bluetooth LE peripheral mode is unsupported")
SHUTDOWN = state_event("disconnected", "shutdown")
WATCH_CONNECTED = {"type": "watch_connected"}
WATCH_DISCONNECTED = {"type": "watch_disconnected"}
RATE_LIMITED = {"type": "malformed_command", "message": "BLE command rate limit exceeded"}
SHUTDOWN_REQUEST = {"type": "shutdown"}


def received(version, command_id, command):
    return {"type": "command_received", "protocolVersion": version, "commandId": command_id,
            "command": command}


def malformed(message):
    return {"type": "malformed_command", "message": message}


def ack_received(command_id, status="executed"):
    return {"type": "ack_received_from_controller", "commandId": command_id, "status": status}


def ack_notified(frame, reason="controller_ack"):
    return {"type": "ack_notified", "frame": frame, "reason": reason}


def acknowledgement(command_id, version=2, status="executed", error_code=None):
    message = {"type": "command_acknowledgement", "commandId": command_id, "status": status,
               "protocolVersion": version}
    if error_code is not None:
        message["errorCode"] = error_code
    return message
