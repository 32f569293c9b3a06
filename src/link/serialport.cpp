#include "link/serialport.h"

SerialPort::~SerialPort() = default;
