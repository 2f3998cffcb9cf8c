return '\400'
