// automatic command test dialog lands here
