#!/usr/bin/python3
"""An independent Modbus master for the slave tests.

modbus_client.py tcp PORT | rtu PATH UNIT
Runs a fixed sequence against the window (first register 0, last LAST:
2047 over TCP, 1023 on a line) and prints one line per step; a request
that gets no reply prints "none"."""
import sys
from pymodbus.client import ModbusSerialClient, ModbusTcpClient

if sys.argv[1] == "tcp":
    client = ModbusTcpClient("127.0.0.1", port=int(sys.argv[2]), timeout=1, retries=0)
    unit, last = 1, 2047
else:
    client = ModbusSerialClient(sys.argv[2], baudrate=9600, timeout=1, retries=0)
    unit, last = int(sys.argv[3]), 1023
if not client.connect():
    print("no connection", flush=True)
    sys.exit(1)
print("ready", flush=True)


def show(name, r, field=None):
    if r is None or r.isError():
        print(name, "none", flush=True)
    elif field:
        print(name, " ".join(str(int(x)) for x in getattr(r, field)), flush=True)
    else:
        print(name, "ok", flush=True)


show("fc16", client.write_registers(0, [1, 2, 65535], slave=unit))
show("fc3", client.read_holding_registers(0, 3, slave=unit), "registers")
show("fc6", client.write_register(last, 0xFFFF, slave=unit))
show("fc4", client.read_input_registers(last, 1, slave=unit), "registers")
show("fc5", client.write_coil(10, True, slave=unit))
show("fc15", client.write_coils(11, [False, True, True], slave=unit))
show("fc1", client.read_coils(10, 4, slave=unit), "bits")
show("fc2", client.read_discrete_inputs(10, 4, slave=unit), "bits")
show("floats", client.read_holding_registers(200, 4, slave=unit), "registers")
show("edge", client.read_holding_registers(last - 8, 16, slave=unit), "registers")
show("after", client.read_holding_registers(0, 1, slave=unit), "registers")
client.close()
print("done", flush=True)
